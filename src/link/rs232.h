// Serial routines the device operations use on top of CnComm: open at the fixed line
// format, chunked writes, polling input into the caller's receive buffer, and receiving an
// exact number of bytes within a poll budget.
#pragma once

#include "link/cncomm.h"
#include "link/transport.h"

#include <cstdint>

namespace mx {

// True at once when the port is already open and healthy (its number and speed are left
// as they are); a port that failed is closed and opened again. Otherwise opens 8N1.
bool OpenPortAt(CnComm& port, int portNumber, int baudRate);

// Writes in chunks of 128 bytes with a 1 ms pause between chunks.
void WriteChunked(CnComm& port, const uint8_t* data, int length);

// PollInput and ReceiveExact of transport.h on a serial port opened elsewhere.
void PollInput(CnComm& port, uint8_t* buffer, int& fill);

bool ReceiveExact(CnComm& port, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls);

} // namespace mx

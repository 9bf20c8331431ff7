// Serial routines the device operations use on top of CnComm: open at the fixed line
// format, chunked writes, polling input into the caller's receive buffer, and receiving an
// exact number of bytes within a poll budget.
#pragma once

#include "link/cncomm.h"

#include <cstdint>

namespace mx {

constexpr int kReceiveBufferSize = 1024;

// True at once when the port is already open and healthy (its number and speed are left
// as they are); a port that failed is closed and opened again. Otherwise opens 8N1.
bool OpenPortAt(CnComm& port, int portNumber, int baudRate);

// Writes in chunks of 128 bytes with a 1 ms pause between chunks.
void WriteChunked(CnComm& port, const uint8_t* data, int length);

// Moves waiting bytes into the buffer (kReceiveBufferSize bytes); fill never exceeds it.
void PollInput(CnComm& port, uint8_t* buffer, int& fill);

// Waits until want bytes are in the buffer, then moves them to out and the rest to the
// front. The time budget is that of `polls` polls at the port's speed (about 1.5 s for a
// 52-byte reply, 100 polls, 57600 baud); it returns as soon as the bytes are there and calls
// the engine's pump while it waits. False when they do not come, when want is outside
// 0..kReceiveBufferSize, or at once when the port vanishes; the bytes received stay.
bool ReceiveExact(CnComm& port, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls);

// The time budget ReceiveExact allows, in milliseconds.
int ReceiveBudgetMs(int baudRate, int want, int fill, int polls);

} // namespace mx

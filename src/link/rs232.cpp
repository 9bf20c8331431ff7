#include "link/rs232.h"

#include "link/transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace mx {
namespace {

constexpr int kChunk = 128;

} // namespace

bool OpenPortAt(CnComm& port, int portNumber, int baudRate)
{
    if (port.IsOpen()) {
        if (!port.Failed())
            return true;
        // The device went away under us; it may be back (adapter plugged in again).
        port.Close(500);
    }
    return port.Open(portNumber, baudRate, 0, 8, 0);
}

void WriteChunked(CnComm& port, const uint8_t* data, int length)
{
    if (data == nullptr)
        return;
    for (int done = 0; done < length;) {
        const int n = std::min(kChunk, length - done);
        port.Write(data + done, n);
        done += n;
        if (port.Failed())
            return;
        if (done < length)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void PollInput(CnComm& port, uint8_t* buffer, int& fill)
{
    SerialTransport line(port);
    PollInput(line, buffer, fill);
}

bool ReceiveExact(CnComm& port, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls)
{
    SerialTransport line(port);
    return ReceiveExact(line, out, want, buffer, fill, polls);
}

} // namespace mx

#include "link/rs232.h"

#include "link/engine_env.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace mx {
namespace {

constexpr int kChunk = 128;
constexpr int kDefaultBaud = 57600;
// Longest single wait between pump calls, so a window keeps repainting.
constexpr int kPumpSliceMs = 10;

int64_t MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

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
    fill = std::clamp(fill, 0, kReceiveBufferSize);
    int n = port.InputCount();
    if (n <= 0)
        return;
    n = std::min(n, kReceiveBufferSize - fill);
    if (n == 0)
        return;
    fill += port.Read(buffer + fill, n);
}

int ReceiveBudgetMs(int baudRate, int want, int fill, int polls)
{
    if (baudRate <= 0)
        baudRate = kDefaultBaud;
    const int64_t w = want;
    int64_t first = 2 * ((14000000 / baudRate) * w / 1000);
    if (first == 0)
        first = 1;
    int64_t step = 2 * ((std::max<int64_t>(w - fill, 0) * w) / 1000);
    if (step == 0)
        step = 1;
    const int64_t total = first + 10 + std::max(polls, 0) * (step + 10);
    return int(std::min<int64_t>(total, 600000));
}

bool ReceiveExact(CnComm& port, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls)
{
    if (out == nullptr || buffer == nullptr || want < 0 || want > kReceiveBufferSize)
        return false;
    fill = std::clamp(fill, 0, kReceiveBufferSize);
    int baud = 0;
    if (auto st = port.GetState())
        baud = st->baudRate;
    const int64_t deadline = MonotonicMs() + ReceiveBudgetMs(baud, want, fill, polls);

    for (;;) {
        PollInput(port, buffer, fill);
        if (fill >= want)
            break;
        if (!port.IsOpen() || port.Failed())
            return false;
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return false;
        port.WaitReadable(int(std::min<int64_t>(left, kPumpSliceMs)));
        Pump();
    }
    std::memcpy(out, buffer, size_t(want));
    std::memmove(buffer, buffer + want, size_t(fill - want));
    fill -= want;
    return true;
}

} // namespace mx

#include "link/transport.h"

#include "link/cncomm.h"
#include "link/engine_env.h"
#include "link/rs232.h"

#include <QIODevice>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

namespace mx {
namespace {

constexpr int kDefaultBaud = 57600;
// Longest single wait between pump calls, so a window keeps repainting.
constexpr int kPumpSliceMs = 10;

int64_t MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

SerialTransport::SerialTransport(CnComm& port, std::function<int()> portNumber)
    : port_(port), portNumber_(std::move(portNumber))
{
}

SerialTransport::SerialTransport(CnComm& port, QString devicePath) : port_(port), devicePath_(std::move(devicePath)) {}

SerialTransport::SerialTransport(CnComm& port) : port_(port) {}

bool SerialTransport::Open(int baudRate)
{
    if (devicePath_.isEmpty())
        return OpenPortAt(port_, portNumber_ ? portNumber_() : port_.PortNumber(), baudRate);
    if (port_.IsOpen() && !port_.Failed() && port_.DeviceName() == devicePath_)
        return true;
    return port_.OpenDevice(devicePath_, baudRate);
}

void SerialTransport::Close()
{
    if (port_.IsOpen())
        port_.Close(500);
}

bool SerialTransport::IsOpen() const { return port_.IsOpen(); }

bool SerialTransport::Write(const uint8_t* data, int length)
{
    WriteChunked(port_, data, length);
    return !port_.Failed() && port_.IsOpen();
}

int SerialTransport::Read(uint8_t* buffer, int capacity)
{
    const int n = std::min(port_.InputCount(), capacity);
    return n > 0 ? port_.Read(buffer, n) : 0;
}

bool SerialTransport::WaitReadable(int timeoutMs) { return port_.WaitReadable(timeoutMs); }
bool SerialTransport::Vanished() const { return port_.Failed(); }

int SerialTransport::BaudRate() const
{
    if (auto st = port_.GetState())
        return st->baudRate;
    return 0;
}

QString SerialTransport::Name() const
{
    if (!port_.DeviceName().isEmpty())
        return port_.DeviceName();
    return devicePath_.isEmpty() ? QStringLiteral("COM%1").arg(portNumber_ ? portNumber_() : port_.PortNumber())
                                 : devicePath_;
}

QString SerialTransport::OpenError() const { return port_.OpenError(); }

bool ExportTransport::Write(const uint8_t* data, int length)
{
    if (data == nullptr || length < 0 || length > kRecordSize)
        return false;
    std::array<char, kRecordSize> record{};
    std::memcpy(record.data(), data, size_t(length));
    const bool ok = file_.write(record.data(), kRecordSize) == kRecordSize;
    records_ += ok;
    return ok;
}

QString ExportTransport::Name() const { return QStringLiteral("the export file"); }

void PollInput(Transport& line, uint8_t* buffer, int& fill)
{
    fill = std::clamp(fill, 0, kReceiveBufferSize);
    if (fill < kReceiveBufferSize)
        fill += line.Read(buffer + fill, kReceiveBufferSize - fill);
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

bool ReceiveExact(Transport& line, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls)
{
    if (out == nullptr || buffer == nullptr || want < 0 || want > kReceiveBufferSize)
        return false;
    fill = std::clamp(fill, 0, kReceiveBufferSize);
    const int64_t deadline = MonotonicMs() + ReceiveBudgetMs(line.BaudRate(), want, fill, polls);

    for (;;) {
        PollInput(line, buffer, fill);
        if (fill >= want)
            break;
        if (!line.IsOpen() || line.Vanished())
            return false;
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return false;
        line.WaitReadable(int(std::min<int64_t>(left, kPumpSliceMs)));
        Pump();
    }
    std::memcpy(out, buffer, size_t(want));
    std::memmove(buffer, buffer + want, size_t(fill - want));
    fill -= want;
    return true;
}

} // namespace mx

// The line a screen's device operations talk through: a serial port, an export file, a network
// connection. Retries, realignment and time budgets live above it, so they are the same on
// every transport.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QIODevice;

namespace mx {

class CnComm;

class Transport {
public:
    virtual ~Transport() = default;

    // Opens the line at the speed given; true at once when it is open and healthy.
    virtual bool Open(int baudRate) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Sends one packet; false when the line took less.
    virtual bool Write(const uint8_t* data, int length) = 0;
    // At most capacity bytes that have already arrived; never waits.
    virtual int Read(uint8_t* buffer, int capacity) = 0;
    // Waits until input is readable, at most timeoutMs. False on time-out and on failure.
    virtual bool WaitReadable(int timeoutMs) = 0;
    // The line went away (unplugged adapter, closed connection); every exchange fails at once.
    virtual bool Vanished() const = 0;
    // False for a line nobody answers on (an export file): a written packet is the whole exchange.
    virtual bool Answers() const { return true; }
    // The line's speed, for the time a reply may take.
    virtual int BaudRate() const = 0;
    // What the line is (a device path, a file), for messages.
    virtual QString Name() const = 0;
    // Why the last Open failed; empty after a good one.
    virtual QString OpenError() const { return {}; }
};

// The serial port: a CnComm opened by the project's port number through the port directory,
// or by a device path given directly.
class SerialTransport : public Transport {
public:
    SerialTransport(CnComm& port, std::function<int()> portNumber);
    SerialTransport(CnComm& port, QString devicePath);
    // A view of a port someone else opens and closes.
    explicit SerialTransport(CnComm& port);

    bool Open(int baudRate) override;
    void Close() override;
    bool IsOpen() const override;
    bool Write(const uint8_t* data, int length) override;
    int Read(uint8_t* buffer, int capacity) override;
    bool WaitReadable(int timeoutMs) override;
    bool Vanished() const override;
    int BaudRate() const override;
    QString Name() const override;
    QString OpenError() const override;

private:
    CnComm& port_;
    std::function<int()> portNumber_;
    QString devicePath_;
};

// The SD/U-disk export: every packet appended to a file as one record of 2048 bytes, zero
// padded. Nothing answers.
class ExportTransport : public Transport {
public:
    static constexpr int kRecordSize = 2048;
    explicit ExportTransport(QIODevice& file) : file_(file) {}

    bool Open(int) override { return true; }
    void Close() override {}
    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, int length) override;
    int Read(uint8_t*, int) override { return 0; }
    bool WaitReadable(int) override { return false; }
    bool Vanished() const override { return false; }
    bool Answers() const override { return false; }
    int BaudRate() const override { return 0; }
    QString Name() const override;

    int Records() const { return records_; }

private:
    QIODevice& file_;
    int records_ = 0;
};

constexpr int kReceiveBufferSize = 1024;

// Moves waiting bytes into the buffer (kReceiveBufferSize bytes); fill never exceeds it.
void PollInput(Transport& line, uint8_t* buffer, int& fill);

// Waits until want bytes are in the buffer, then moves them to out and the rest to the
// front. The time budget is that of `polls` polls at the line's speed (about 1.5 s for a
// 52-byte reply, 100 polls, 57600 baud); it returns as soon as the bytes are there and calls
// the engine's pump while it waits. False when they do not come, when want is outside
// 0..kReceiveBufferSize, or at once when the line vanishes; the bytes received stay.
bool ReceiveExact(Transport& line, uint8_t* out, int want, uint8_t* buffer, int& fill, int polls);

// The time budget ReceiveExact allows, in milliseconds.
int ReceiveBudgetMs(int baudRate, int want, int fill, int polls);

} // namespace mx

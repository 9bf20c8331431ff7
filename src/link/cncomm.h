// The serial-port object: one termios character device in raw 8N1 mode, non-blocking.
// Reads take only bytes already received; writes queue and return; a port that vanishes
// (unplugged adapter, closed pseudo-terminal) turns every operation into a clean failure.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace mx {

// The line state as read back from the device. parity: 0 none, 1 odd, 2 even, 3 mark,
// 4 space; stopBits: 0 one, 2 two (1, "one and a half", is reported as 2).
struct LineState {
    int baudRate = 0;
    int byteSize = 8;
    int parity = 0;
    int stopBits = 0;
};

class CnComm {
public:
    // Option bits are kept for callers that pass them; no watch thread is started, since
    // nothing consumes its notifications.
    explicit CnComm(uint32_t options = 0x03);
    virtual ~CnComm();
    CnComm(const CnComm&) = delete;
    CnComm& operator=(const CnComm&) = delete;

    // Purges both directions, releases the exclusive lock and closes. Nothing when closed.
    virtual void Close(int waitMs = 500);
    bool IsOpen() const;

    // Opens the device the port directory gives for the number, at the line settings given.
    // False for 0 or above 1024, for an unknown or absent port, a device that is not a
    // character device or not a terminal, and for a baud rate the system does not know.
    // A failed Open leaves the object closed.
    bool Open(int port, int baudRate, uint8_t parity = 0, uint8_t byteSize = 8, uint8_t stopBits = 0);
    // Opens a device path directly (the number is stored as given; -1 for none).
    bool OpenDevice(const QString& device, int baudRate, uint8_t parity = 0, uint8_t byteSize = 8,
                    uint8_t stopBits = 0, int portNumber = -1);

    std::optional<LineState> GetState();
    // Bytes waiting; -1 when closed or the port failed.
    int InputCount();
    // At most length bytes already waiting; never waits. 0 when closed or failed.
    int Read(uint8_t* buf, int length);
    // Queues the bytes; returns the count accepted by the driver. When the driver's buffer is
    // full it waits briefly for room (bounded), never indefinitely.
    int Write(const uint8_t* buf, int length);
    // Waits until input is readable. False on time-out, on error and on hang-up.
    bool WaitReadable(int timeoutMs);

    int PortNumber() const { return port_; }
    QString DeviceName() const { return device_; }
    // Set when the device vanished or errored (EIO, ENXIO, hang-up); cleared by Open.
    bool Failed() const { return failed_; }
    // Why the last Open failed, with the device path; empty after a good one.
    QString OpenError() const { return openError_; }
    uint32_t Options() const { return dwOption_; }
    int Handle() const { return hComm_; }

private:
    bool SetState(int baudRate, uint8_t parity, uint8_t byteSize, uint8_t stopBits);
    void NoteError(int err);
    bool CheckHangup();

    uint32_t dwOption_;
    int hComm_ = -1;
    int port_ = -1;
    QString device_;
    bool failed_ = false;
    QString openError_;
    int baud_ = 0;   // as last set, for bounding write waits
};

// Standard termios speeds; 0 when the rate has no constant.
unsigned BaudConstant(int baudRate);
int BaudFromConstant(unsigned speed);

} // namespace mx

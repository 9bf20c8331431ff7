#include "link/cncomm.h"

#include "link/portdir.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace mx {
namespace {

struct BaudPair {
    int rate;
    speed_t constant;
};

constexpr BaudPair kBauds[] = {
    {50, B50},         {75, B75},           {110, B110},         {134, B134},
    {150, B150},       {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Errors after which the device is gone for good: an unplugged adapter, a hung-up or closed
// pseudo-terminal, a descriptor that no longer names anything.
bool IsVanishedError(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

int64_t MonotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// write(2) with SIGPIPE held back for this thread, so a device that reports a broken pipe
// gives EPIPE instead of ending the process. A SIGPIPE raised by this write is consumed.
ssize_t WriteNoSigpipe(int fd, const void* buf, size_t n)
{
    sigset_t pipeSet, oldSet, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    ssize_t r = ::write(fd, buf, n);
    const int err = errno;
    if (r < 0 && err == EPIPE && !wasPending) {
        const timespec zero{0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
    errno = err;
    return r;
}

} // namespace

unsigned BaudConstant(int baudRate)
{
    for (const auto& b : kBauds)
        if (b.rate == baudRate)
            return b.constant;
    return 0;
}

int BaudFromConstant(unsigned speed)
{
    for (const auto& b : kBauds)
        if (b.constant == speed)
            return b.rate;
    return 0;
}

CnComm::CnComm(uint32_t options) : dwOption_(options) {}

CnComm::~CnComm()
{
    Close(500);
}

bool CnComm::IsOpen() const
{
    return hComm_ >= 0;
}

void CnComm::Close(int /*waitMs: no threads to wait for*/)
{
    if (hComm_ < 0)
        return;
    ::tcflush(hComm_, TCIOFLUSH);
    ::ioctl(hComm_, TIOCNXCL);
    ::close(hComm_);
    hComm_ = -1;
}

bool CnComm::Open(int port, int baudRate, uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    if (port < 1 || port > 1024)
        return false;
    const QString device = DevicePathOfPort(port);
    if (device.isEmpty()) {
        Close(500);
        port_ = port;
        device_.clear();
        failed_ = false;
        openError_ = QStringLiteral("COM%1 names no device").arg(port);
        return false;
    }
    return OpenDevice(device, baudRate, parity, byteSize, stopBits, port);
}

bool CnComm::OpenDevice(const QString& device, int baudRate, uint8_t parity, uint8_t byteSize,
                        uint8_t stopBits, int portNumber)
{
    Close(500);
    port_ = portNumber;
    device_ = device;
    failed_ = false;
    openError_.clear();
    auto refuse = [&](const QString& why) {
        openError_ = QStringLiteral("%1: %2").arg(device, why);
        return false;
    };
    if (device.isEmpty())
        return refuse(QStringLiteral("no device named"));

    const QByteArray path = QFile::encodeName(device);
    int fd;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return refuse(errno == ENOENT ? QStringLiteral("no such device")
                      : errno == EBUSY ? QStringLiteral("the port is held by another program")
                                       : QString::fromLocal8Bit(std::strerror(errno)));

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        const bool character = S_ISCHR(st.st_mode);
        ::close(fd);
        return refuse(character ? QStringLiteral("not a serial line") : QStringLiteral("not a character device"));
    }
    // Another program holding the port exclusively makes the open above fail with EBUSY;
    // from here on we hold it, and release the hold before closing.
    if (::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return refuse(QStringLiteral("the port cannot be held for this program"));
    }
    hComm_ = fd;
    if (!SetState(baudRate, parity, byteSize, stopBits)) {
        Close(500);
        return refuse(QStringLiteral("the line settings (%1 baud, 8N1) were refused").arg(baudRate));
    }
    ::tcflush(hComm_, TCIOFLUSH);
    return true;
}

bool CnComm::SetState(int baudRate, uint8_t parity, uint8_t byteSize, uint8_t stopBits)
{
    const speed_t speed = BaudConstant(baudRate);
    if (speed == 0 || byteSize < 5 || byteSize > 8 || parity > 4 || stopBits > 2)
        return false;
    termios t {};
    if (::tcgetattr(hComm_, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (byteSize) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }
    switch (parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (stopBits != 0)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0)
        return false;
    if (::tcsetattr(hComm_, TCSANOW, &t) != 0)
        return false;
    baud_ = baudRate;
    return true;
}

std::optional<LineState> CnComm::GetState()
{
    if (hComm_ < 0 || failed_)
        return std::nullopt;
    termios t {};
    if (::tcgetattr(hComm_, &t) != 0) {
        NoteError(errno);
        return std::nullopt;
    }
    LineState s;
    s.baudRate = BaudFromConstant(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
    case CS5: s.byteSize = 5; break;
    case CS6: s.byteSize = 6; break;
    case CS7: s.byteSize = 7; break;
    default: s.byteSize = 8; break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        s.parity = (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    }
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    return s;
}

void CnComm::NoteError(int err)
{
    if (IsVanishedError(err))
        failed_ = true;
}

// A zero-time poll: the hang-up of a closed pseudo-terminal or an unplugged adapter shows
// there before any read fails.
bool CnComm::CheckHangup()
{
    pollfd p {hComm_, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        failed_ = true;
    return failed_;
}

int CnComm::InputCount()
{
    if (hComm_ < 0 || failed_ || CheckHangup())
        return -1;
    int n = 0;
    if (::ioctl(hComm_, FIONREAD, &n) != 0) {
        NoteError(errno);
        return -1;
    }
    return n < 0 ? 0 : n;
}

int CnComm::Read(uint8_t* buf, int length)
{
    if (hComm_ < 0 || failed_ || buf == nullptr || length <= 0)
        return 0;
    const int waiting = InputCount();
    if (waiting <= 0)
        return 0;
    const int n = waiting < length ? waiting : length;
    ssize_t r;
    do {
        r = ::read(hComm_, buf, size_t(n));
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            NoteError(errno);
        return 0;
    }
    if (r == 0) {
        // Bytes were announced but end-of-file came: the other side hung up.
        failed_ = true;
        return 0;
    }
    return int(r);
}

int CnComm::Write(const uint8_t* buf, int length)
{
    if (hComm_ < 0 || failed_ || buf == nullptr || length <= 0)
        return 0;
    // Room in the driver's buffer normally takes no wait at all; when it is full, allow the
    // wire time of these bytes plus a margin, then give up with what was accepted.
    const int baud = baud_ > 0 ? baud_ : 57600;
    const int64_t deadline = MonotonicMs() + 250 + int64_t(length) * 10 * 1000 / baud;
    int done = 0;
    while (done < length) {
        ssize_t r = WriteNoSigpipe(hComm_, buf + done, size_t(length - done));
        if (r > 0) {
            done += int(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            NoteError(errno);
            break;
        }
        const int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            break;
        pollfd p {hComm_, POLLOUT, 0};
        int pr = ::poll(&p, 1, int(left));
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr <= 0)
            break;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            failed_ = true;
            break;
        }
    }
    return done;
}

bool CnComm::WaitReadable(int timeoutMs)
{
    if (hComm_ < 0 || failed_)
        return false;
    if (timeoutMs < 0)
        timeoutMs = 0;
    const int64_t deadline = MonotonicMs() + timeoutMs;
    for (;;) {
        pollfd p {hComm_, POLLIN, 0};
        const int64_t left = deadline - MonotonicMs();
        int r = ::poll(&p, 1, int(left > 0 ? left : 0));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            NoteError(errno);
            return false;
        }
        if (r == 0)
            return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            failed_ = true;
            return false;
        }
        return (p.revents & POLLIN) != 0;
    }
}

} // namespace mx

#include "sim/pty_server.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace mx::sim {
namespace {

// Replies not yet taken by the tool pile up here only when it stops reading; beyond this
// they are dropped, as a card's transmitter would simply keep sending into a dead line.
constexpr qsizetype kMaxQueued = 1 << 20;

int64_t SteadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SetRaw(int fd)
{
    termios t {};
    if (::tcgetattr(fd, &t) != 0)
        return;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B57600);
    ::cfsetospeed(&t, B57600);
    ::tcsetattr(fd, TCSANOW, &t);
}

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

PtyServer::PtyServer(SimCard& card) : card_(card) {}

PtyServer::~PtyServer()
{
    Stop();
}

bool PtyServer::Open(const QString& linkPath, QString* error)
{
    if (master_ >= 0) {
        SetError(error, QStringLiteral("already open"));
        return false;
    }
    char name[PATH_MAX] = {};
    int m = -1, s = -1;
    if (::openpty(&m, &s, name, nullptr, nullptr) != 0) {
        SetError(error, QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK);
    ::fcntl(m, F_SETFD, FD_CLOEXEC);
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
    SetRaw(s);
    const int w = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (w < 0) {
        SetError(error, QStringLiteral("eventfd: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        ::close(m);
        ::close(s);
        return false;
    }

    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        struct stat st {};
        if (::lstat(link.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                SetError(error, QStringLiteral("%1 exists and is not a symbolic link").arg(linkPath));
                ::close(m);
                ::close(s);
                ::close(w);
                return false;
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0) {
            SetError(error, QStringLiteral("cannot link %1: %2").arg(linkPath, QString::fromLocal8Bit(std::strerror(errno))));
            ::close(m);
            ::close(s);
            ::close(w);
            return false;
        }
    }
    master_ = m;
    slave_ = s;
    wake_ = w;
    link_ = linkPath;
    slave_name_ = QString::fromLocal8Bit(name);
    stop_ = false;
    return true;
}

bool PtyServer::Start(const QString& linkPath, QString* error)
{
    if (!Open(linkPath, error))
        return false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void PtyServer::RequestStop()
{
    stop_.store(true);
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(wake_, &one, sizeof one);
    }
}

void PtyServer::Stop()
{
    RequestStop();
    if (thread_.joinable())
        thread_.join();
    Close();
}

void PtyServer::Close()
{
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    if (wake_ >= 0)
        ::close(wake_);
    master_ = slave_ = wake_ = -1;
    if (!link_.isEmpty()) {
        // Only our own link: another simulator may have taken the path over since.
        const QByteArray link = QFile::encodeName(link_);
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, int(n)) == slave_name_)
            ::unlink(link.constData());
        link_.clear();
    }
}

void PtyServer::Run()
{
    if (master_ < 0)
        return;
    struct Pending {
        QByteArray bytes;
        int64_t dueUs;
        int sent = 0;
        int64_t startUs = -1;   // when pacing: the moment its first byte started on the wire
    };
    std::deque<Pending> queue;
    qsizetype queued = 0;
    int64_t lineFreeUs = 0;
    uint8_t buf[4096];

    while (!stop_.load()) {
        const int64_t now = SteadyUs();
        const int baud = card_.GetFaults().paceBaud;
        const int64_t byteUs = baud > 0 ? 10 * 1000000LL / baud : 0;
        bool wantWrite = false;
        int64_t wakeAt = now + 200000;

        // Send what is due.
        while (!queue.empty()) {
            Pending& head = queue.front();
            if (now < head.dueUs) {
                wakeAt = std::min(wakeAt, head.dueUs);
                break;
            }
            int allowed = int(head.bytes.size()) - head.sent;
            if (byteUs > 0) {
                if (head.startUs < 0)
                    head.startUs = std::max(head.dueUs, lineFreeUs);
                const int64_t onWire = (now - head.startUs) / byteUs;
                allowed = int(std::clamp<int64_t>(onWire - head.sent, 0, allowed));
            }
            if (allowed > 0) {
                const ssize_t w = ::write(master_, head.bytes.constData() + head.sent, size_t(allowed));
                if (w > 0) {
                    head.sent += int(w);
                    bytesOut_ += w;
                } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
                    head.sent = int(head.bytes.size());   // the line is gone; drop it
                } else {
                    wantWrite = true;
                    break;
                }
            }
            if (head.sent >= head.bytes.size()) {
                lineFreeUs = byteUs > 0 ? head.startUs + int64_t(head.bytes.size()) * byteUs : now;
                queued -= head.bytes.size();
                queue.pop_front();
                continue;
            }
            if (byteUs > 0)
                wakeAt = std::min(wakeAt, head.startUs + int64_t(head.sent + 1) * byteUs);
            break;
        }

        pollfd fds[2] = {{master_, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0}, {wake_, POLLIN, 0}};
        const int64_t waitUs = std::max<int64_t>(wakeAt - SteadyUs(), 0);
        const timespec ts {time_t(waitUs / 1000000), long((waitUs % 1000000) * 1000)};
        const int r = ::ppoll(fds, 2, &ts, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents & POLLIN)
            continue;   // stop requested; the loop condition ends it
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                bytesIn_ += n;
                const int64_t at = SteadyUs();
                for (Outgoing& o : card_.Receive(buf, int(n), at)) {
                    if (queued + o.bytes.size() > kMaxQueued)
                        continue;
                    queued += o.bytes.size();
                    queue.push_back({std::move(o.bytes), o.dueUs});
                }
                card_.Flush();
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // No slave open anywhere; cannot happen while we hold one, but never spin on it.
            ::usleep(10000);
        }
    }
}

} // namespace mx::sim

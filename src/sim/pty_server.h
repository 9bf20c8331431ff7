// The line side of the virtual card: a pseudo-terminal whose slave is linked at a path the
// tool opens like any serial device. The server keeps the master and one slave descriptor
// open, so the tool may open and close the port for every command without the pty going
// away. Bytes from the line go to the card; its replies go back, paced when asked.
#pragma once

#include "sim/sim_card.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>

namespace mx::sim {

class PtyServer {
public:
    explicit PtyServer(SimCard& card);
    ~PtyServer();   // Stop()
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal and the link (a stale symbolic link there is replaced;
    // anything else there is left alone and the call fails). An empty link path makes no link.
    bool Open(const QString& linkPath, QString* error = nullptr);
    // Open, then serve on a thread of its own.
    bool Start(const QString& linkPath, QString* error = nullptr);
    // Serves in the calling thread until RequestStop (Open first).
    void Run();
    // Makes Run return; safe to call from a signal handler.
    void RequestStop();
    // Ends serving, closes the pseudo-terminal (the tool's open port sees a hang-up) and
    // removes the link.
    void Stop();

    bool IsOpen() const { return master_ >= 0; }
    QString LinkPath() const { return link_; }
    QString SlavePath() const { return slave_name_; }
    int64_t BytesIn() const { return bytesIn_.load(); }
    int64_t BytesOut() const { return bytesOut_.load(); }

private:
    void Close();

    SimCard& card_;
    int master_ = -1;
    int slave_ = -1;
    int wake_ = -1;
    QString link_;
    QString slave_name_;
    std::thread thread_;
    std::atomic<bool> stop_ {false};
    std::atomic<int64_t> bytesIn_ {0};
    std::atomic<int64_t> bytesOut_ {0};
};

} // namespace mx::sim

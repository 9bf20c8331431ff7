// A virtual card on a real pseudo-terminal for tests of the serial layer and the simulator,
// and a builder for command packets (the tests' own, independent of the engine's encoder).
#pragma once

#include "link/portdir.h"
#include "sim/pty_server.h"
#include "sim/sim_card.h"

#include <QByteArray>
#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace mxtest {

// A command packet: params at 16.., payload at 48.., checksum, trailer 0, end 0x50.
inline QByteArray MakePacket(uint8_t cmd, const std::vector<uint8_t>& params = {},
                             const QByteArray& payload = {}, uint16_t address = 1)
{
    const int len = 52 + int(payload.size());
    QByteArray p(len, '\0');
    auto* b = reinterpret_cast<uint8_t*>(p.data());
    b[0] = 0xA0;
    b[1] = uint8_t(len);
    b[2] = uint8_t(len >> 8);
    b[3] = uint8_t(address);
    b[4] = uint8_t(address >> 8);
    b[13] = cmd;
    b[14] = cmd;
    b[15] = uint8_t(cmd - 1);
    for (size_t i = 0; i < params.size() && i < 32; ++i)
        b[16 + i] = params[i];
    std::copy(payload.begin(), payload.end(), p.begin() + 48);
    const uint16_t sum = mx::sim::Sum16(b, len - 4);
    b[len - 4] = uint8_t(sum);
    b[len - 3] = uint8_t(sum >> 8);
    b[len - 1] = 0x50;
    return p;
}

inline const uint8_t* U8(const QByteArray& b)
{
    return reinterpret_cast<const uint8_t*>(b.constData());
}

// Polls a condition for up to timeoutMs.
template <class F>
bool WaitUntil(F&& cond, int timeoutMs = 2000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A simulator serving on its own thread, its link in a fresh temporary folder, entered in
// the port directory under `number`.
class SimLine {
public:
    explicit SimLine(int number = 7) : number_(number), server_(card)
    {
        link_ = dir_.path() + QStringLiteral("/card");
        QString error;
        started_ = server_.Start(link_, &error);
        EXPECT_TRUE(started_) << error.toStdString();
        mx::SetPortOverride(number_, link_);
    }
    ~SimLine()
    {
        server_.Stop();
        mx::SetPortOverride(number_, {});
    }
    // Ends serving: the tool's open port sees the line vanish.
    void Stop() { server_.Stop(); }
    // Serves again on the same link (a new pseudo-terminal, as after a replug).
    bool Restart()
    {
        server_.Stop();
        return server_.Start(link_);
    }

    int Number() const { return number_; }
    QString Link() const { return link_; }
    mx::sim::PtyServer& Server() { return server_; }

    mx::sim::SimCard card;

private:
    int number_;
    QTemporaryDir dir_;
    QString link_;
    mx::sim::PtyServer server_;
    bool started_ = false;
};

} // namespace mxtest

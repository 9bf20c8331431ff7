// The serial routines over a real pseudo-terminal, against the simulator.
#include "link/engine_env.h"
#include "link/rs232.h"
#include "support/sim_line.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace mxtest;
using Clock = std::chrono::steady_clock;

namespace {

int64_t MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

// Where a wait must end early, it gets a budget of about 14 s, so that a wait running to its
// budget cannot pass for a quick one under a bound that a loaded machine still meets.
constexpr int kLongPolls = 1000;
constexpr int64_t kQuickMs = 1000;

class Rs232Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        mx::ClearPortOverrides();
        mx::SetPortSettingsFile({});
        mx::SetDeviceScanRoots(empty_.path(), empty_.path());
        mx::SetPortOverride(sim.Number(), sim.Link());
        ASSERT_TRUE(mx::OpenPortAt(port, sim.Number(), 57600));
    }
    void TearDown() override
    {
        port.Close();
        mx::SetPump({});
        mx::SetDeviceScanRoots({}, {});
    }
    void Send(uint8_t cmd)
    {
        const QByteArray pkt = MakePacket(cmd);
        mx::WriteChunked(port, U8(pkt), int(pkt.size()));
    }

    QTemporaryDir empty_;
    SimLine sim {5};
    mx::CnComm port;
    uint8_t buffer[mx::kReceiveBufferSize] = {};
    int fill = 0;
    uint8_t out[mx::kReceiveBufferSize] = {};
};

TEST_F(Rs232Test, OpenPortAtKeepsAnOpenPortAsItIs)
{
    SimLine other(6);
    EXPECT_TRUE(mx::OpenPortAt(port, 6, 9600));
    EXPECT_EQ(port.PortNumber(), 5);
    EXPECT_EQ(port.GetState()->baudRate, 57600);
}

TEST_F(Rs232Test, OpenPortAtReopensAPortThatVanishedAndCameBack)
{
    ASSERT_TRUE(sim.Restart());
    Send(0x35);
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, 5));
    EXPECT_TRUE(port.Failed());
    ASSERT_TRUE(mx::OpenPortAt(port, 5, 57600));
    EXPECT_FALSE(port.Failed());
    Send(0x35);
    EXPECT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100));
}

TEST_F(Rs232Test, WriteChunkedDeliversLongPacketsWhole)
{
    for (int payload : {0, 76, 248, 1024}) {
        QByteArray data(payload, '\0');
        for (int i = 0; i < payload; ++i)
            data[i] = char(i * 13 + 1);
        const QByteArray pkt = MakePacket(0x03, {3, 0}, data);
        mx::WriteChunked(port, U8(pkt), int(pkt.size()));
        ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100)) << payload;
        EXPECT_EQ(sim.card.Slot(3).data, data) << payload;
    }
    mx::WriteChunked(port, nullptr, 10);
    mx::WriteChunked(port, U8(MakePacket(0x35)), 0);
    EXPECT_EQ(sim.Server().BytesIn(), 4 * 52 + 76 + 248 + 1024);
}

TEST_F(Rs232Test, PollInputNeverFillsPastTheBuffer)
{
    sim.card.SetNoise(48);   // 48 + 52 = 100 bytes waiting
    Send(0x35);
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 100; }));
    fill = 1000;
    mx::PollInput(port, buffer, fill);
    EXPECT_EQ(fill, 1024);
    EXPECT_EQ(port.InputCount(), 76);
    mx::PollInput(port, buffer, fill);
    EXPECT_EQ(fill, 1024);
    EXPECT_EQ(port.InputCount(), 76);
    fill = 0;
    mx::PollInput(port, buffer, fill);
    EXPECT_EQ(fill, 76);
}

TEST_F(Rs232Test, AFloodIsTakenAtMostABufferAtATime)
{
    sim.card.SetNoise(3000);
    Send(0x35);
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() >= 1024; }));
    for (int i = 0; i < 5; ++i) {
        mx::PollInput(port, buffer, fill);
        EXPECT_LE(fill, mx::kReceiveBufferSize);
    }
    EXPECT_EQ(fill, mx::kReceiveBufferSize);
    EXPECT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 0));
    EXPECT_EQ(fill, mx::kReceiveBufferSize - 52);
}

TEST_F(Rs232Test, ReceiveExactTakesWhatIsWantedAndKeepsTheRest)
{
    sim.card.SetNoise(8);   // 60 bytes arrive
    Send(0x35);
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 60; }));
    ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100));
    const QByteArray sent = sim.card.History().back().reply;
    ASSERT_EQ(sent.size(), 60);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(out), 52), sent.left(52));
    EXPECT_EQ(fill, 8);
    EXPECT_EQ(QByteArray(reinterpret_cast<char*>(buffer), 8), sent.right(8));
    // Bytes already in the buffer are taken without any wait.
    const auto t0 = Clock::now();
    ASSERT_TRUE(mx::ReceiveExact(port, out, 8, buffer, fill, kLongPolls));
    EXPECT_EQ(fill, 0);
    EXPECT_LT(MsSince(t0), kQuickMs);
}

TEST_F(Rs232Test, ReceiveExactReturnsAsSoonAsTheReplyIsThere)
{
    int pumped = 0;
    mx::SetPump([&] { ++pumped; });
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        Send(0x35);
        ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, kLongPolls));
        EXPECT_LT(MsSince(t0), kQuickMs) << "far inside the 14 s budget";
        EXPECT_EQ(out[0], 0xAF);
        EXPECT_EQ(fill, 0);
    }
    // Paced at 9600 baud the packet and its reply take 104 x 10 / 9600 s, 108 ms; the pump runs
    // while the reply comes.
    sim.card.SetPacing(9600);
    Send(0x35);
    ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100));
    EXPECT_GT(pumped, 3);
}

TEST_F(Rs232Test, ReceiveExactGivesUpAfterItsBudget)
{
    sim.card.SetSilent(0x35);
    int pumped = 0;
    mx::SetPump([&] { ++pumped; });
    Send(0x35);
    auto t0 = Clock::now();
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, 100));
    // The whole budget of 1434 ms (less a millisecond of rounding), and not much more.
    const int64_t ms = MsSince(t0);
    EXPECT_GE(ms, 1433);
    EXPECT_LT(ms, 3 * 1434);
    EXPECT_GT(pumped, 50);

    // With no polls only the first wait is made: 34 ms.
    t0 = Clock::now();
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, 0));
    EXPECT_GE(MsSince(t0), 33);
    EXPECT_LT(MsSince(t0), 500) << "not the 1434 ms of 100 polls";
}

TEST_F(Rs232Test, ReceiveExactKeepsPartialBytesWhenTheyStopComing)
{
    sim.card.SetNoise(20);
    Send(0x35);
    ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100));
    ASSERT_TRUE(WaitUntil([&] {
        mx::PollInput(port, buffer, fill);
        return fill == 20;
    }));
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, 2));
    EXPECT_EQ(fill, 20);
}

TEST_F(Rs232Test, AVanishedPortEndsTheWaitAtOnce)
{
    sim.card.SetSilent(0x35);
    Send(0x35);
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sim.Stop();
    });
    const auto t0 = Clock::now();
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, kLongPolls));
    unplug.join();
    EXPECT_LT(MsSince(t0), 100 + kQuickMs) << "not the whole 14 s budget";
    EXPECT_TRUE(port.Failed());
    // Nothing hangs afterwards either.
    const auto t1 = Clock::now();
    Send(0x35);
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, kLongPolls));
    EXPECT_LT(MsSince(t1), kQuickMs);
}

TEST_F(Rs232Test, ReceiveExactRefusesImpossibleRequests)
{
    EXPECT_FALSE(mx::ReceiveExact(port, out, mx::kReceiveBufferSize + 1, buffer, fill, 1));
    EXPECT_FALSE(mx::ReceiveExact(port, out, -1, buffer, fill, 1));
    EXPECT_FALSE(mx::ReceiveExact(port, nullptr, 52, buffer, fill, 1));
    EXPECT_TRUE(mx::ReceiveExact(port, out, 0, buffer, fill, 1));
    port.Close();
    const auto t0 = Clock::now();
    EXPECT_FALSE(mx::ReceiveExact(port, out, 52, buffer, fill, kLongPolls)) << "a closed port cannot deliver";
    EXPECT_LT(MsSince(t0), kQuickMs);
}

// The time a receive may take: a first wait of twice 14 bit times a wanted byte, 10 ms, then per
// poll a wait of 2 ms for each 1000 of (bytes missing x bytes wanted), at least 1, and 10 ms.
// A 52-byte reply at 57600 baud: a 24 ms first wait, then 100 polls of 4 + 10 ms.
TEST(Rs232Budget, FollowsThePollArithmetic)
{
    struct Case {
        int baud, want, fill, polls, ms;
    } cases[] = {
        {57600, 52, 0, 100, 1434},   // a missing reply
        {57600, 52, 0, 0, 34},
        {0, 52, 0, 100, 1434},       // line state unknown: 57600
        {9600, 52, 0, 100, 1560},    // a first wait of 150 ms
        {57600, 3, 0, 100, 1111},    // waits of 0 ms become 1
        {57600, 52, 40, 100, 1134},  // 12 bytes missing: polls of 1 + 10 ms
        {115200, 1024, 0, 100, 210856}, // a whole buffer: a 246 ms first wait, polls of 2096 + 10 ms
        {57600, 1024, 512, 1000, 600000}, // over 17 minutes, held to 10
    };
    for (const Case& c : cases)
        EXPECT_EQ(mx::ReceiveBudgetMs(c.baud, c.want, c.fill, c.polls), c.ms) << c.baud << " " << c.want;
}

} // namespace

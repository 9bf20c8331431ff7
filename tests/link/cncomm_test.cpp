// CnComm over a real pseudo-terminal, against the simulator.
#include "link/cncomm.h"
#include "link/portdir.h"
#include "support/sim_line.h"

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <termios.h>

using namespace mxtest;

namespace {

class CnCommTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mx::ClearPortOverrides();
        mx::SetPortSettingsFile({});
        mx::SetDeviceScanRoots(empty_.path(), empty_.path());
    }
    void TearDown() override
    {
        mx::ClearPortOverrides();
        mx::SetDeviceScanRoots({}, {});
    }

    // Sends a version command and waits for the full reply; returns the bytes read.
    static QByteArray VersionExchange(mx::CnComm& port)
    {
        const QByteArray pkt = MakePacket(0x35);
        EXPECT_EQ(port.Write(U8(pkt), int(pkt.size())), pkt.size());
        QByteArray got;
        WaitUntil([&] {
            uint8_t buf[128];
            port.WaitReadable(20);
            const int n = port.Read(buf, sizeof buf);
            got.append(reinterpret_cast<const char*>(buf), n);
            return got.size() >= 52 || port.Failed();
        });
        return got;
    }

    QTemporaryDir empty_;
};

TEST_F(CnCommTest, RefusesNumbersOutOfRangeAndUnknownPorts)
{
    SimLine sim(5);
    mx::CnComm port;
    for (int n : {0, 1025, -1}) {
        EXPECT_FALSE(port.Open(n, 57600)) << n;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.PortNumber(), -1) << "out-of-range numbers change nothing";
    }
    EXPECT_FALSE(port.Open(700, 57600));
    EXPECT_FALSE(port.IsOpen());
    // A failed Open closes a port that was open.
    ASSERT_TRUE(port.Open(5, 57600));
    EXPECT_FALSE(port.Open(701, 57600));
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(CnCommTest, RefusesDevicesThatAreNotTerminals)
{
    QTemporaryDir dir;
    const QString regular = dir.path() + "/plain";
    QFile f(regular);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    mx::CnComm port;
    for (const QString& path : {regular, QStringLiteral("/dev/null"), dir.path(), dir.path() + "/missing"}) {
        mx::SetPortOverride(9, path);
        EXPECT_FALSE(port.Open(9, 57600)) << path.toStdString();
        EXPECT_FALSE(port.IsOpen());
    }
}

TEST_F(CnCommTest, OpensRaw8N1AtTheRequestedSpeed)
{
    SimLine sim(5);
    mx::CnComm port;
    for (int baud : {9600, 57600, 115200}) {
        ASSERT_TRUE(port.Open(5, baud)) << baud;
        EXPECT_EQ(port.PortNumber(), 5);
        EXPECT_EQ(port.DeviceName(), sim.Link());
        auto st = port.GetState();
        ASSERT_TRUE(st);
        EXPECT_EQ(st->baudRate, baud);
        EXPECT_EQ(st->byteSize, 8);
        EXPECT_EQ(st->parity, 0);
        EXPECT_EQ(st->stopBits, 0);
        termios t {};
        ASSERT_EQ(tcgetattr(port.Handle(), &t), 0);
        EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
        port.Close();
    }
    EXPECT_FALSE(port.Open(5, 12345)) << "no termios constant for this speed";
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.GetState());
}

TEST_F(CnCommTest, HoldsThePortExclusivelyAndReleasesIt)
{
    SimLine sim(5);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    int excl = 0;
    ASSERT_EQ(ioctl(port.Handle(), TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
    port.Close();
    mx::CnComm again;
    ASSERT_TRUE(again.Open(5, 57600)) << "the exclusive hold was released on close";
    again.Close();
    // The hold applies to the terminal, which another program opening it now would share.
    const int fd = ::open(QFile::encodeName(sim.Link()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);
    ::close(fd);
}

TEST_F(CnCommTest, IsBinaryTransparentBothWays)
{
    SimLine sim(5);
    // Line-discipline bytes in the card's version reply: CR, LF, XON, XOFF.
    sim.card.SetVersion({0x0D, 0x0A, 0x11, 0x13});
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    QByteArray payload;
    for (int i = 0; i < 256; ++i)
        payload.append(char(i));
    const QByteArray page = MakePacket(0x03, {1, 0}, payload);
    ASSERT_EQ(port.Write(U8(page), int(page.size())), page.size());
    ASSERT_TRUE(sim.card.WaitForExchanges(1, 2000));
    EXPECT_EQ(sim.card.Slot(1).data, payload) << "every byte value reached the card unchanged";
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 52; }));
    uint8_t pageReply[52];
    ASSERT_EQ(port.Read(pageReply, 52), 52);

    const QByteArray reply = VersionExchange(port).right(52);
    ASSERT_EQ(reply.size(), 52);
    EXPECT_EQ(reply.mid(16, 4), QByteArray::fromHex("0D0A1113"));
    EXPECT_EQ(reply, sim.card.History().back().reply);
}

TEST_F(CnCommTest, SurvivesOpeningAndClosingForEveryCommand)
{
    SimLine sim(5);
    mx::CnComm port;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(port.Open(5, 57600)) << "cycle " << i;
        ASSERT_EQ(VersionExchange(port).size(), 52) << "cycle " << i;
        port.Close();
        port.Close();   // closing a closed port does nothing
    }
    EXPECT_EQ(sim.card.State().packets, 100);
}

TEST_F(CnCommTest, OpenDiscardsBytesLeftOnTheLine)
{
    SimLine sim(5);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    const QByteArray pkt = MakePacket(0x35);
    port.Write(U8(pkt), int(pkt.size()));
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 52; }));
    port.Close();
    ASSERT_TRUE(port.Open(5, 57600));
    EXPECT_EQ(port.InputCount(), 0);
    uint8_t buf[64];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
}

TEST_F(CnCommTest, KeepsTheOrderOfManySmallWrites)
{
    SimLine sim(5);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    QByteArray payload(1000, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    const QByteArray page = MakePacket(0x03, {2, 0}, payload);
    for (int i = 0; i < page.size(); ++i)
        ASSERT_EQ(port.Write(U8(page) + i, 1), 1);
    ASSERT_TRUE(sim.card.WaitForExchanges(1, 2000));
    EXPECT_EQ(sim.card.Slot(2).data, payload);
    EXPECT_EQ(sim.card.State().garbageBytes, 0);
}

TEST_F(CnCommTest, ReadTakesOnlyWhatIsThereAndNeverMoreThanAsked)
{
    SimLine sim(5);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    uint8_t buf[64] = {};
    EXPECT_EQ(port.Read(buf, sizeof buf), 0) << "nothing there: no wait, no bytes";
    EXPECT_FALSE(port.WaitReadable(0));
    const QByteArray pkt = MakePacket(0x35);
    port.Write(U8(pkt), int(pkt.size()));
    ASSERT_TRUE(port.WaitReadable(2000));
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 52; }));
    uint8_t guard[20];
    memset(guard, 0xEE, sizeof guard);
    EXPECT_EQ(port.Read(guard, 10), 10);
    EXPECT_EQ(guard[10], 0xEE);
    EXPECT_EQ(port.InputCount(), 42);
    EXPECT_EQ(port.Read(buf, 0), 0);
    EXPECT_EQ(port.Read(nullptr, 10), 0);
}

TEST_F(CnCommTest, AVanishedPortFailsEveryOperationAtOnce)
{
    SimLine sim(5);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(5, 57600));
    sim.Stop();
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.WaitReadable(20000)); // long, so that waiting it out cannot pass below
    EXPECT_EQ(port.InputCount(), -1);
    EXPECT_TRUE(port.Failed());
    uint8_t buf[64] = {};
    EXPECT_EQ(port.Read(buf, sizeof buf), 0);
    EXPECT_EQ(port.Write(buf, sizeof buf), 0);
    EXPECT_FALSE(port.GetState());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2000));
    EXPECT_TRUE(port.IsOpen()) << "still ours to close";
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(5, 57600)) << "the link went with the card";
    EXPECT_FALSE(port.Failed()) << "Open starts afresh";
}

TEST_F(CnCommTest, OperationsOnAClosedPortAnswerNothing)
{
    mx::CnComm port;
    uint8_t buf[8] = {};
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.InputCount(), -1);
    EXPECT_EQ(port.Read(buf, 8), 0);
    EXPECT_EQ(port.Write(buf, 8), 0);
    EXPECT_FALSE(port.WaitReadable(10));
    EXPECT_FALSE(port.GetState());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.Options(), 0x03u);
    port.Close();
}

} // namespace

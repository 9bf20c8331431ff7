// The simulator's line side: the pseudo-terminal and its link, pacing, and the program.
#include "link/cncomm.h"
#include "link/rs232.h"
#include "sim/pty_server.h"
#include "support/sim_line.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace mxtest;
using Clock = std::chrono::steady_clock;

namespace {

int64_t MsSince(Clock::time_point t0)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

TEST(PtyServer, LinksThePseudoTerminalAndRemovesTheLink)
{
    QTemporaryDir dir;
    const QString link = dir.path() + "/card";
    mx::sim::SimCard card;
    {
        // A stale link is replaced.
        ASSERT_EQ(::symlink("/dev/pts/nonexistent", QFile::encodeName(link).constData()), 0);
        mx::sim::PtyServer server(card);
        QString error;
        ASSERT_TRUE(server.Start(link, &error)) << error.toStdString();
        EXPECT_EQ(QFileInfo(link).symLinkTarget(), server.SlavePath());
        EXPECT_TRUE(server.SlavePath().startsWith("/dev/pts/"));
        mx::sim::PtyServer second(card);
        EXPECT_FALSE(second.Open(link + "/sub/x", &error));
    }
    EXPECT_FALSE(QFileInfo(link).isSymLink()) << "removed on stop";

    // Anything but a symbolic link is never replaced.
    QFile plain(link);
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("keep");
    plain.close();
    mx::sim::PtyServer server(card);
    QString error;
    EXPECT_FALSE(server.Start(link, &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "keep");
}

class PacedLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        mx::ClearPortOverrides();
        mx::SetPortOverride(sim.Number(), sim.Link());
        ASSERT_TRUE(mx::OpenPortAt(port, sim.Number(), 57600));
    }
    void TearDown() override { mx::ClearPortOverrides(); }

    SimLine sim {5};
    mx::CnComm port;
    uint8_t buffer[mx::kReceiveBufferSize] = {};
    int fill = 0;
    uint8_t out[64] = {};
};

TEST_F(PacedLine, RepliesComeAfterTheWireTimeAtWireSpeed)
{
    // At 9600 baud a 52-byte packet and its reply take 104 x 10 / 9600 s, 108 ms.
    sim.card.SetPacing(9600);
    const QByteArray pkt = MakePacket(0x35);
    const auto t0 = Clock::now();
    mx::WriteChunked(port, U8(pkt), int(pkt.size()));
    std::vector<int> seen;
    int64_t first = -1;
    while (port.InputCount() < 52 && MsSince(t0) < 1000) {
        port.WaitReadable(2);
        const int n = port.InputCount();
        if (n > 0 && first < 0)
            first = MsSince(t0);
        if (n > 0 && (seen.empty() || seen.back() != n))
            seen.push_back(n);
    }
    const int64_t total = MsSince(t0);
    ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 0));
    EXPECT_EQ(out[0], 0xAF);
    EXPECT_GE(first, 50) << "nothing before the packet's own wire time (54 ms)";
    EXPECT_GE(total, 108) << "the whole reply not before the exchange's wire time";
    EXPECT_LT(total, 600) << "more than five times the wire time";
    EXPECT_GE(seen.size(), 2u) << "the reply trickles in rather than arriving at once";

    // Without pacing the same exchange is immediate: ten of them take less than half the
    // 1083 ms they take paced.
    sim.card.SetPacing(0);
    const auto t1 = Clock::now();
    for (int i = 0; i < 10; ++i) {
        mx::WriteChunked(port, U8(pkt), int(pkt.size()));
        ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100)) << i;
    }
    EXPECT_LT(MsSince(t1), 500);
}

TEST_F(PacedLine, RepliesToPacketsSentTogetherGoOutOneAfterAnother)
{
    sim.card.SetPacing(57600);
    const QByteArray pkt = MakePacket(0x35);
    QByteArray three = pkt + pkt + pkt;
    mx::WriteChunked(port, U8(three), int(three.size()));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(mx::ReceiveExact(port, out, 52, buffer, fill, 100)) << i;
        EXPECT_EQ(out[0], 0xAF);
        EXPECT_EQ(out[51], 0x5F);
    }
    EXPECT_EQ(fill, 0);
}

// The program itself, as a shell would run it.
class SimProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        exe_ = QStringLiteral(MARQUIX_BINARY_DIR "/marquix-sim");
        if (!QFileInfo(exe_).isExecutable())
            GTEST_SKIP() << "marquix-sim is not built";
    }
    int RunToExit(const QStringList& args)
    {
        QProcess p;
        p.start(exe_, args);
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitCode();
    }
    QString exe_;
    QTemporaryDir dir_;
};

TEST_F(SimProgram, ServesUntilTerminatedAndCleansUp)
{
    const QString link = dir_.path() + "/card";
    QProcess p;
    p.start(exe_, {"--link", link, "--version-bytes", "12 03 04 0B", "--params", "10 04 03", "--brightness", "5",
                   "--partitions", "01 00 00 08 04", "--power", "1,07:30,22:15", "--state", dir_.path() + "/s.json",
                   "--log", dir_.path() + "/l.jsonl", "--silent", "0x06"});
    ASSERT_TRUE(p.waitForReadyRead(5000));
    EXPECT_EQ(p.readLine().trimmed(), link.toUtf8()) << "prints the link when ready";

    mx::SetPortOverride(3, link);
    mx::CnComm port;
    ASSERT_TRUE(port.Open(3, 57600));
    uint8_t buffer[mx::kReceiveBufferSize];
    int fill = 0;
    uint8_t reply[52];
    const struct {
        uint8_t cmd;
        int at;
        QByteArray expect;
    } asks[] = {
        {0x35, 16, QByteArray::fromHex("1203040B")},
        {0x24, 16, QByteArray::fromHex("100403")},
        {0x13, 16, QByteArray::fromHex("05")},
        {0x2A, 16, QByteArray::fromHex("0100000804")},
        {0x27, 17, QByteArray::fromHex("0107302215")},
    };
    for (const auto& a : asks) {
        const QByteArray pkt = MakePacket(a.cmd);
        mx::WriteChunked(port, U8(pkt), int(pkt.size()));
        ASSERT_TRUE(mx::ReceiveExact(port, reply, 52, buffer, fill, 100)) << int(a.cmd);
        EXPECT_EQ(QByteArray(reinterpret_cast<char*>(reply) + a.at, int(a.expect.size())), a.expect) << int(a.cmd);
    }
    const QByteArray clear = MakePacket(0x06);
    mx::WriteChunked(port, U8(clear), int(clear.size()));
    EXPECT_FALSE(mx::ReceiveExact(port, reply, 52, buffer, fill, 2)) << "0x06 was silenced";
    port.Close();

    p.terminate();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    QFile state(dir_.path() + "/s.json");
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(state.readAll()).object();
    EXPECT_EQ(o["packets"].toInt(), 6);
    EXPECT_EQ(o["version"].toString(), "12 03 04 0B");
    EXPECT_GT(QFileInfo(dir_.path() + "/l.jsonl").size(), 0);
}

TEST_F(SimProgram, RefusesBadOptions)
{
    const QString link = dir_.path() + "/card";
    const QStringList bad[] = {
        {},
        {"--link"},
        {"--link", link, "--version-bytes", "10 02"},
        {"--link", link, "--version-bytes", "zz 02 01 0A"},
        {"--link", link, "--params", QString(34, QLatin1Char('1'))},
        {"--link", link, "--partitions", "maybe"},
        {"--link", link, "--brightness", "300"},
        {"--link", link, "--power", "1,25:00,22:00"},
        {"--link", link, "--baud", "fast"},
        {"--link", link, "--silent", "0x1FF"},
        {"--link", link, "--noise", "-3"},
        {"--link", link, "--clock", "yesterday"},
        {"--link", link, "stray"},
    };
    for (const QStringList& args : bad)
        EXPECT_EQ(RunToExit(args), 2) << args.join(' ').toStdString();
    EXPECT_FALSE(QFileInfo::exists(link));
    EXPECT_EQ(RunToExit({"--link", dir_.path() + "/no/such/dir/card"}), 1);
}

} // namespace

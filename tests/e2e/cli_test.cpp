#include "simfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <csignal>

namespace {

struct CliRun {
    int exit = -1;
    QString out, err;
};

class Cli : public SimLink {
protected:
    CliRun cli(QStringList args, bool withDevice = true)
    {
        if (withDevice)
            args << "--device" << link;
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral(MARQUIX_BINARY_DIR "/marquix-cli"), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }
    // Keeps the user's LED.ini out of the programs the tests start.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dir.path() + "/home");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
    QString file(const QString& name, const QByteArray& content)
    {
        const QString path = dir.path() + "/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return path;
    }
};

TEST_F(Cli, DeviceCommandsAndTheirOutcomes)
{
    struct Case { QStringList args; int exit; QString inOut; QString err; }; // err: all of stderr
    const QString params = file("p.json", R"({"width": 128, "height": 32, "colourType": 2})");
    const std::vector<Case> cases = {
        {{"version"}, 0, "ZELT-10 V2 .1 .A\n命令发送成功。", ""},
        {{"brightness", "9"}, 0, "命令发送成功。", ""},
        {{"brightness"}, 0, "brightness 9\n", ""},
        {{"power", "1", "07:30", "22:00"}, 0, "命令发送成功。", ""},
        {{"power"}, 0, "mode 1 on 07:30 off 22:00", ""},
        {{"params", "write", params}, 0, "命令发送成功。", ""},
        {{"params", "read"}, 0, "\"record\": \"10 04 02 00", ""},
        {{"partitions"}, 0, "none set", ""},
        {{"partitions", "write", "--rect", "0,0,64,32", "--rect", "64,0,128,32"}, 0, "命令发送成功。", ""},
        {{"partitions", "read"}, 0, "type 1: 0,0,64,32 64,0,128,32", ""},
        {{"clear"}, 0, "命令发送成功。", ""},
        {{"sync-clock"}, 0, "命令发送成功。", ""},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args.join(' ').toStdString() << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.inOut)) << c.args.join(' ').toStdString() << " printed " << r.out.toStdString();
        EXPECT_EQ(r.err.toStdString(), c.err.toStdString()) << c.args.join(' ').toStdString();
    }
    const auto state = card.State();
    EXPECT_EQ(state.brightness, 9);
    EXPECT_EQ(state.params[0], 16);
    EXPECT_EQ(state.clears, 3) << "a parameter write and a partition write each clear the screen, and clear does";
}

TEST_F(Cli, FailuresAreNeverSuccess)
{
    struct Case { QStringList args; bool device; int exit; QString inErr; };
    const QString bad = file("bad.json", "{\"width\": 100}");
    const QString notJson = file("junk.json", "\x01\x02{");
    const std::vector<Case> cases = {
        {{"version", "--device", dir.path() + "/nothing"}, false, 1, "没有找到控制卡"},
        {{"brightness", "16"}, true, 2, "LEVEL"},
        {{"power", "1", "25:00", "22:00"}, true, 2, "MODE ON OFF"},
        {{"params", "write", dir.path() + "/missing.json"}, true, 3, "missing.json"},
        {{"params", "write", bad}, true, 3, "multiple of 8"},
        {{"params", "write", notJson}, true, 3, "not a JSON object"},
        {{"partitions", "write", "--rect", "0,0,7,8"}, true, 2, "--rect"},
        {{"frobnicate"}, false, 2, "unknown command"},
        {{"version", "--port", "1"}, true, 2, "either --port or --device"},
        {{"version", "--port"}, false, 2, "needs a value"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args, c.device);
        EXPECT_EQ(r.exit, c.exit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.inErr)) << c.args.join(' ').toStdString() << " said " << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("命令发送成功。")) << c.args.join(' ').toStdString();
    }
}

TEST_F(Cli, RejectedParametersAndATimeout)
{
    card.SetRejectParamWrite(true);
    const QString params = file("p.json", R"({"width": 2040})");
    CliRun r = cli({"params", "write", params});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err.count("命今发送失败,可能是屏大小超出范围。错误代号 (0x04)"), 1);

    card.SetSilent(0x06);
    r = cli({"clear"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.contains("命令发送失败，通讯超时（错误代码：0x00000033）."));
}

TEST_F(Cli, SearchFindsThePortNamedInTheSettings)
{
    QDir().mkpath(dir.path() + "/home/Marquix");
    file("home/Marquix/LED.ini", QStringLiteral("[Ports]\nCOM7=%1\n").arg(link).toUtf8());
    const CliRun r = cli({"search"}, false);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("查找端口 COM7 @ 57600")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("port 7"));
}


TEST_F(Cli, HelpIsNoErrorButBadUsageIs)
{
    struct Case {
        QStringList args;
        int exit;
        bool usageOnStdout;
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, true},
        {{"help"}, 0, true},
        {{}, 2, false},
        {{"frobnicate"}, 2, false},
        {{"info", "--bogus"}, 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = cli(c.args, false);
        EXPECT_EQ(r.exit, c.exit);
        EXPECT_TRUE((c.usageOnStdout ? r.out : r.err).contains("usage: marquix-cli")) << r.out.toStdString() << r.err.toStdString();
    }

    QProcess sim;
    sim.setProcessEnvironment(environment());
    sim.start(QStringLiteral(MARQUIX_BINARY_DIR "/marquix-sim"), {"--help"});
    ASSERT_TRUE(sim.waitForFinished(30000));
    EXPECT_EQ(sim.exitCode(), 0);
    const QString help = QString::fromUtf8(sim.readAllStandardOutput());
    EXPECT_TRUE(help.contains("--power <MODE,HH:MM,HH:MM>")) << help.toStdString();
    EXPECT_FALSE(help.contains("SPEC")) << help.toStdString();
}

class CliProject : public Cli {};

TEST_F(CliProject, ConvertInfoAndExport)
{
    const QString json = file("p.json", R"({"marquix": 1, "screens": [{"params": {"width": 64, "height": 16},
        "pages": [{"kind": "text", "lines": ["Hi"]}, {"kind": "clock"}]}]})");
    const QString lcm = dir.path() + "/p.lcm";
    CliRun r = cli({"convert", json, lcm}, false);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    r = cli({"convert", lcm, dir.path() + "/back.json"}, false);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    r = cli({"convert", dir.path() + "/back.json", dir.path() + "/again.lcm"}, false);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    QFile a(lcm), b(dir.path() + "/again.lcm");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    r = cli({"info", lcm}, false);
    EXPECT_EQ(r.exit, 0);
    EXPECT_TRUE(r.out.contains("64 x 16 dots")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("page 2: clock")) << r.out.toStdString();
    r = cli({"info", lcm, "--json"}, false);
    EXPECT_TRUE(r.out.contains("\"marquix\": 1"));

    r = cli({"render", lcm, "--page", "1", "--out", dir.path() + "/pages", "--terminal"}, false);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("\033[48;2;")) << "drawn in the terminal";
    EXPECT_EQ(QImage(dir.path() + "/pages/page-1-1.png").size(), QSize(64, 16));

    r = cli({"export-sd", lcm, "--dir", dir.path()}, false);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("保存成功。")));
    EXPECT_EQ(QFileInfo(dir.path() + "/led.sd").size(), 5 * 2048);
}

TEST_F(CliProject, ConvertReadsTheFilesAJsonProjectNames)
{
    // Files other programs wrote: a LibreOffice RTF and a cjpeg picture saved as .JPEG.
    QDir().mkpath(dir.path() + "/media");
    ASSERT_TRUE(QFile::copy(MARQUIX_SOURCE_DIR "/tests/data/rtf/lo_plain.rtf", dir.path() + "/media/plain.rtf"));
    ASSERT_TRUE(QFile::copy(MARQUIX_SOURCE_DIR "/tests/data/pictures/baseline.jpg", dir.path() + "/media/photo.JPEG"));
    const QString json = file("named.json", R"({"marquix": 1, "screens": [{"params": {"width": 64, "height": 16},
        "pages": [{"kind": "richText", "rtfFile": "media/plain.rtf"},
                  {"kind": "picture", "pictureFile": "media/photo.JPEG"}]}]})");
    const QString lcm = dir.path() + "/named.lcm";
    CliRun r = cli({"convert", json, lcm}, false);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    r = cli({"render", lcm, "--out", dir.path() + "/pages"}, false);
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    for (const QString& png : {QStringLiteral("page-1-1.png"), QStringLiteral("page-2-1.png")}) {
        const QImage led(dir.path() + "/pages/" + png);
        ASSERT_EQ(led.size(), QSize(64, 16)) << png.toStdString();
        bool lit = false;
        for (int y = 0; y < led.height() && !lit; ++y)
            for (int x = 0; x < led.width() && !lit; ++x)
                lit = (led.pixel(x, y) & 0xFFFFFF) != 0;
        EXPECT_TRUE(lit) << png.toStdString();
    }
}

TEST_F(CliProject, BadInputs)
{
    const QString damaged = file("d.lcm", QByteArray("\x01\x00LCM PANEL\0\0\0\0\0\0\0", 18));
    const QString noPages = file("e.json", R"({"marquix": 1, "screens": [{}]})");
    struct Case { QStringList args; int exit; QString inErr; };
    const std::vector<Case> cases = {
        {{"info", damaged}, 3, "d.lcm is damaged at byte"},
        {{"info", dir.path() + "/missing.lcm"}, 3, "missing.lcm"},
        {{"convert", damaged, dir.path() + "/x.json"}, 3, "damaged"},
        {{"convert", noPages, dir.path() + "/x.txt"}, 2, ".lcm or .json"},
        {{"export-sd", noPages, "--dir", dir.path()}, 1, "no pages"},
        {{"export-sd", noPages, "--dir", dir.path(), "--screen", "2"}, 2, "--screen"},
        {{"info", noPages, "--bogus"}, 2, "unknown option"},
    };
    for (const auto& c : cases) {
        const CliRun r = cli(c.args, false);
        EXPECT_EQ(r.exit, c.exit) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.inErr)) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.path() + "/x.json"));
}


class CliSend : public Cli {};

TEST_F(CliSend, SendsAProjectWithProgressAndASummary)
{
    const QString json = file("p.json", R"({"marquix": 1, "screens": [{"params": {"width": 64, "height": 64},
        "pages": [{"kind": "text", "lines": ["Hi"]}, {"kind": "richText"}]}]})");
    const CliRun r = cli({"send", json});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("progress 100%")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("命令发送成功。")));
    EXPECT_TRUE(r.out.contains("2 page(s), 2 slot(s), 2 packet(s)")) << r.out.toStdString();
    EXPECT_TRUE(card.Slot(2).used) << "the rich-text page was laid out and sent";
    EXPECT_EQ(card.State().downloadMark, 1);
}

TEST_F(CliSend, ACardWithAnotherScreenIsRefusedUnlessForced)
{
    const QString json = file("p.json", R"({"marquix": 1, "screens": [{"params": {"width": 128, "height": 32,
        "colourType": 2}, "pages": [{"kind": "text", "lines": ["Hi"]}]}]})");
    CliRun r = cli({"send", json});
    EXPECT_EQ(r.exit, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("控制卡的屏参与工程不一致"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("64 x 64 single colour") && r.err.contains("128 x 32 red and green")) << r.err.toStdString();
    EXPECT_FALSE(card.Slot(1).used);

    r = cli({"send", json, "--force"});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("sending anyway")) << r.err.toStdString();
    EXPECT_TRUE(card.Slot(1).used);
}

TEST_F(CliSend, WarningsAndTheSlotsASendUses)
{
    const QString json = file("p.json", R"({"marquix": 1, "screens": [{"params": {"width": 64, "height": 64},
        "pages": [{"kind": "text", "lines": [")" + QByteArray(600, 'A') + R"("]},
                  {"kind": "richText", "ledPageCount": 30}]}]})");
    CliRun r = cli({"info", json}, false);
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 of 80 program slots")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("page 2: rich text \"欢迎你!\", partition 0, 1 slot(s)"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("warning: page 1")) << r.out.toStdString();

    r = cli({"send", json});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("warning: page 1") && r.err.contains("512")) << r.err.toStdString();
    for (const QStringList& args : {QStringList{"render", json, "--out", dir.path() + "/png"},
                                    QStringList{"export-sd", json, "--dir", dir.path()}}) {
        r = cli(args, false);
        EXPECT_EQ(r.exit, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("warning:") && r.err.contains("512")) << args.first().toStdString();
    }
}

TEST_F(Cli, DevicesThatAreNoSerialLineSaySo)
{
    const QString plain = file("plain.txt", "not a device");
    struct Case { QString device; QString why; };
    const std::vector<Case> cases = {
        {dir.path() + "/nothing", "no such device"},
        {"/dev/null", "not a serial line"},
        {plain, "not a character device"},
    };
    for (const Case& c : cases) {
        const CliRun r = cli({"version", "--device", c.device}, false);
        EXPECT_EQ(r.exit, 1);
        const QStringList lines = r.err.split('\n');
        ASSERT_GE(lines.size(), 2) << r.err.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("没有找到控制卡，请检查硬件后重新查找。")) << "the system's text first";
        EXPECT_EQ(lines[1], c.device + ": " + c.why);
    }
}

TEST_F(CliSend, CtrlCStopsCleanly)
{
    QString pages;
    for (int i = 0; i < 40; ++i)
        pages += QStringLiteral(R"({"kind": "text", "lines": ["page %1"]},)").arg(i);
    pages.chop(1);
    const QString json = file("many.json", QStringLiteral(R"({"marquix": 1, "screens": [{"pages": [%1]}]})").arg(pages).toUtf8());
    card.SetPacing(9600); // slow enough to stop in the middle
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(QStringLiteral(MARQUIX_BINARY_DIR "/marquix-cli"), {"send", json, "--device", link});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray seen;
    while (!seen.contains("page 3/") && p.waitForReadyRead(10000))
        seen += p.readAllStandardOutput();
    ASSERT_TRUE(seen.contains("page 3/")) << seen.toStdString();
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(QStringLiteral("发送已停止")));
    EXPECT_EQ(card.State().downloadMark, 1) << "the card left download mode";
    int pagesOnCard = 0;
    for (int s = 1; s <= 80; ++s)
        pagesOnCard += card.Slot(s).used;
    EXPECT_GT(pagesOnCard, 0);
    EXPECT_LT(pagesOnCard, 40);
}

} // namespace

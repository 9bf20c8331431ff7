// The port directory: LED.ini entries, in-process entries and the device scan.
#include "link/portdir.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace {

class PortDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mx::ClearPortOverrides();
        mx::SetPortSettingsFile({});
        // An empty device tree, so the machine's own ports stay out of the results.
        mx::SetDeviceScanRoots(root_.path(), root_.path());
    }
    void TearDown() override
    {
        mx::ClearPortOverrides();
        mx::SetPortSettingsFile({});
        mx::SetDeviceScanRoots({}, {});
    }
    QString WriteIni(const QByteArray& text)
    {
        const QString path = root_.path() + "/LED.ini";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return path;
    }
    static QStringList Numbers()
    {
        QStringList l;
        mx::ListSerialPortNumbers(l);
        return l;
    }

    QTemporaryDir root_;
};

TEST(PortNumberOfName, ReadsComAndDecimalDigitsOnly)
{
    const struct {
        const char* name;
        int number;
    } cases[] = {
        {"COM1", 1},     {"COM12", 12},  {"com3", 3},    {"COM1024", 1024}, {"COM0", 0},
        {"COM", -1},     {"COMX", -1},   {"COM1a", -1},  {"COM 1", -1},     {"LPT1", -1},
        {"", -1},        {"/dev/ttyS0", -1}, {"COM-1", -1}, {"COM99999999999", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mx::PortNumberOfName(QString::fromUtf8(c.name)), c.number) << c.name;
    EXPECT_EQ(mx::PortNumberOfName(QString::fromUtf8("COM\xEF\xBC\x91")), -1) << "full-width digit";
}

TEST_F(PortDirTest, TakesThePortsSectionOfLedIni)
{
    mx::SetPortSettingsFile(WriteIni("[APP]\nLastFile=/home/x/a.lcm\n"
                                     "[Ports]\n"
                                     "COM12=/dev/serial/by-id/usb-FTDI_A,B-if00-port0\n"
                                     "COM3 = /dev/ttyUSB4\n"
                                     "com5=\"/tmp/with space\"\n"
                                     "COM0=/dev/zero\n"
                                     "COM2000=/dev/zero\n"
                                     "COMX=/dev/zero\n"
                                     "COM7=\n"
                                     "[Other]\nCOM9=/dev/zero\n"));
    const QList<mx::PortEntry> dir = mx::PortDirectory();
    ASSERT_EQ(dir.size(), 3);
    EXPECT_EQ(dir[0].number, 3);
    EXPECT_EQ(dir[0].name, "COM3");
    EXPECT_EQ(dir[0].device, "/dev/ttyUSB4");
    EXPECT_EQ(dir[1].device, "/tmp/with space");
    EXPECT_EQ(dir[2].device, "/dev/serial/by-id/usb-FTDI_A,B-if00-port0") << "a comma stays in the path";
    EXPECT_EQ(Numbers(), QStringList({"3", "5", "12"}));
    EXPECT_EQ(mx::FirstSerialPortNumber(), 3);
    EXPECT_EQ(mx::DevicePathOfPort(5), "/tmp/with space");
    EXPECT_EQ(mx::DevicePathOfPort(0), "");
    EXPECT_EQ(mx::DevicePathOfPort(9), "");
    EXPECT_EQ(mx::DevicePathOfPort(1025), "");
}

TEST_F(PortDirTest, SeesLedIniChangesAndMissingFiles)
{
    const QString ini = WriteIni("[Ports]\nCOM4=/dev/a\n");
    mx::SetPortSettingsFile(ini);
    EXPECT_EQ(Numbers(), QStringList({"4"}));
    WriteIni("[Ports]\nCOM6=/dev/b\nCOM4=/dev/a\n");
    EXPECT_EQ(Numbers(), QStringList({"4", "6"}));
    QFile::remove(ini);
    EXPECT_TRUE(Numbers().isEmpty());
    EXPECT_EQ(mx::FirstSerialPortNumber(), 1);
    mx::SetPortSettingsFile(root_.path() + "/nowhere/LED.ini");
    EXPECT_TRUE(mx::PortDirectory().isEmpty());
}

TEST_F(PortDirTest, InProcessEntriesComeFirstInTheOrderSet)
{
    mx::SetPortSettingsFile(WriteIni("[Ports]\nCOM1=/dev/ini1\nCOM3=/dev/ini3\nCOM8=/dev/shared\n"));
    mx::SetPortOverride(3, "/dev/over3");
    mx::SetPortOverride(9, "/dev/shared");
    mx::SetPortOverride(2, "/dev/over2");
    mx::SetPortOverride(0, "/dev/ignored");
    mx::SetPortOverride(1025, "/dev/ignored");
    EXPECT_EQ(Numbers(), QStringList({"3", "9", "2", "1"})) << "COM8 names a device already listed";
    EXPECT_EQ(mx::DevicePathOfPort(3), "/dev/over3");
    EXPECT_EQ(mx::DevicePathOfPort(8), "");
    QStringList names;
    mx::ListSerialPortNames(names);
    EXPECT_EQ(names, QStringList({"COM3", "COM9", "COM2", "COM1"}));

    mx::SetPortOverride(9, "/dev/other");   // replaced in place
    mx::SetPortOverride(3, {});             // removed: LED.ini's COM3 shows again
    EXPECT_EQ(Numbers(), QStringList({"9", "2", "1", "3", "8"}));
    EXPECT_EQ(mx::DevicePathOfPort(3), "/dev/ini3");
    EXPECT_EQ(mx::FirstSerialPortNumber(), 9);
}

// A device tree laid out like /dev and /sys/class/tty. The nodes link to character devices
// that are no pseudo-terminals; each port found needs a device of its own, since two
// names for one device count once.
TEST_F(PortDirTest, FindsSerialDevicesWithHardwareBehindThem)
{
    QDir root(root_.path());
    ASSERT_TRUE(root.mkpath("dev") && root.mkpath("sys"));
    const QString dev = root_.path() + "/dev/", sys = root_.path() + "/sys/";
    auto node = [&](const char* name, bool deviceLink, const char* uartType = nullptr,
                    const char* target = "/dev/null") {
        ASSERT_EQ(::symlink(target, QFile::encodeName(dev + name).constData()), 0);
        if (deviceLink) {
            ASSERT_TRUE(root.mkpath(QString("sys/%1/device").arg(name)));
        }
        if (uartType) {
            QFile f(sys + name + "/type");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(uartType);
        }
    };
    node("ttyS0", true, "4\n", "/dev/zero");
    node("ttyS1", true, "0\n");    // a reserved 8250 slot with no UART
    node("ttyS2", false);          // no device behind it
    node("ttyUSB0", true, nullptr, "/dev/full");
    node("ttyUSB1", false);
    node("ttyUSB40", true);        // beyond the USB numbers
    node("ttyACM2", true, nullptr, "/dev/random");
    node("ttyAMA0", true, nullptr, "/dev/urandom");
    node("ttyX0", true);
    QFile plain(dev + "ttyACM0");  // not a device node
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_TRUE(root.mkpath("sys/ttyACM0/device"));
    int m = -1, s = -1;
    char ptyName[128];
    ASSERT_EQ(::openpty(&m, &s, ptyName, nullptr, nullptr), 0);
    ASSERT_EQ(::symlink(ptyName, QFile::encodeName(dev + "ttyUSB3").constData()), 0);
    ASSERT_TRUE(root.mkpath("sys/ttyUSB3/device"));

    mx::SetDeviceScanRoots(root_.path() + "/dev", root_.path() + "/sys");
    const QList<mx::PortEntry> found = mx::PortDirectory();
    QStringList got;
    for (const auto& e : found)
        got << QString("%1=%2").arg(e.name, QFileInfo(e.device).fileName());
    EXPECT_EQ(got, QStringList({"COM1=ttyS0", "COM33=ttyUSB0", "COM67=ttyACM2", "COM97=ttyAMA0"}));
    EXPECT_EQ(mx::DevicePathOfPort(33), dev + "ttyUSB0");
    EXPECT_EQ(mx::DevicePathOfPort(2), "");
    EXPECT_EQ(mx::DevicePathOfPort(36), "") << "a pseudo-terminal is never found";

    // Named entries go first; a device they name is not listed twice.
    mx::SetPortSettingsFile(WriteIni("[Ports]\nCOM40=" + QFile::encodeName(dev) + "ttyUSB0\n"));
    EXPECT_EQ(Numbers(), QStringList({"40", "1", "67", "97"}));
    EXPECT_EQ(mx::DevicePathOfPort(33), "");
    ::close(m);
    ::close(s);
}

} // namespace

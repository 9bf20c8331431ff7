#include "link/portdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace mx {
namespace {

struct Family {
    const char* prefix;
    int firstNumber;
    int count;
};

// ttyS before ttyUSB: "ttyS" is a prefix of neither of the others, but test it last when
// parsing names so "ttyUSB0" is never read as ttyS + "USB0".
constexpr Family kFamilies[] = {
    {"ttyUSB", 33, 32},
    {"ttyACM", 65, 32},
    {"ttyAMA", 97, kMaxPortNumber - 96},
    {"ttyS", 1, 32},
};

struct DirState {
    std::mutex mutex;
    QString iniPath;
    QList<PortEntry> overrides;   // in the order set
    QString devDir = QStringLiteral("/dev");
    QString sysDir = QStringLiteral("/sys/class/tty");
};

DirState& State()
{
    static DirState s;
    return s;
}

QString ComName(int number)
{
    return QStringLiteral("COM%1").arg(number);
}

// Same device under two paths (a by-id link and its target) counts once.
QString Canonical(const QString& path)
{
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

QList<PortEntry> ReadIniPorts(const QString& iniPath)
{
    QList<PortEntry> out;
    if (iniPath.isEmpty() || !QFileInfo::exists(iniPath))
        return out;
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Ports"));
    for (const QString& key : ini.childKeys()) {
        const int n = PortNumberOfName(key.trimmed());
        if (n < 1 || n > kMaxPortNumber)
            continue;
        // An unquoted comma makes QSettings split the value into a list; a path may hold one.
        const QVariant v = ini.value(key);
        QString device = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                               : v.toString();
        device = device.trimmed();
        if (device.isEmpty())
            continue;
        out.append({n, ComName(n), device});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return out;
}

// Unix98 pseudo-terminal slaves (majors 136-143) and the legacy pty majors.
bool IsPseudoTerminal(const struct stat& st)
{
    const unsigned maj = major(st.st_rdev);
    return (maj >= 136 && maj <= 143) || maj == 2 || maj == 3 || maj == 5;
}

// ttyS ports exist for every UART slot the 8250 driver reserves; only those with a UART
// detected behind them are real.
bool SerialUartPresent(const QString& devPath, const QString& sysEntry)
{
    QFile typeFile(sysEntry + QStringLiteral("/type"));
    if (typeFile.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int type = QString::fromLatin1(typeFile.readAll()).trimmed().toInt(&ok);
        return ok && type != PORT_UNKNOWN;
    }
    const QByteArray path = QFile::encodeName(devPath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct ss {};
    const int r = ::ioctl(fd, TIOCGSERIAL, &ss);
    const int err = errno;
    ::close(fd);
    if (r != 0)
        return err == ENOTTY || err == EINVAL;   // not a UART driver: the device link decides
    return ss.type != PORT_UNKNOWN;
}

// The number a device name stands for, or -1.
int NumberOfDeviceName(const QString& name, bool* isUart = nullptr)
{
    for (const Family& f : kFamilies) {
        const QLatin1String prefix(f.prefix);
        if (!name.startsWith(prefix))
            continue;
        const QString rest = name.mid(prefix.size());
        if (rest.isEmpty() || rest.size() > 4 ||
            !std::all_of(rest.begin(), rest.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
            return -1;
        const int k = rest.toInt();
        if (k >= f.count)
            return -1;
        if (isUart)
            *isUart = QLatin1String(f.prefix) == QLatin1String("ttyS");
        return f.firstNumber + k;
    }
    return -1;
}

QString DeviceNameOfNumber(int number)
{
    for (const Family& f : kFamilies)
        if (number >= f.firstNumber && number < f.firstNumber + f.count)
            return QLatin1String(f.prefix) + QString::number(number - f.firstNumber);
    return {};
}

bool DeviceFound(const QString& devDir, const QString& sysDir, const QString& name)
{
    bool isUart = false;
    if (NumberOfDeviceName(name, &isUart) < 0)
        return false;
    const QString devPath = devDir + QLatin1Char('/') + name;
    struct stat st {};
    if (::stat(QFile::encodeName(devPath).constData(), &st) != 0 || !S_ISCHR(st.st_mode) ||
        IsPseudoTerminal(st))
        return false;
    const QString sysEntry = sysDir + QLatin1Char('/') + name;
    if (!QFileInfo::exists(sysEntry + QStringLiteral("/device")))
        return false;
    return !isUart || SerialUartPresent(devPath, sysEntry);
}

QList<PortEntry> ScanDevices(const QString& devDir, const QString& sysDir)
{
    QList<PortEntry> out;
    const QStringList names = QDir(devDir).entryList(
        {QStringLiteral("ttyS*"), QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
         QStringLiteral("ttyAMA*")},
        QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const int n = NumberOfDeviceName(name);
        if (n > 0 && DeviceFound(devDir, sysDir, name))
            out.append({n, ComName(n), devDir + QLatin1Char('/') + name});
    }
    std::sort(out.begin(), out.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.number < b.number; });
    return out;
}

struct Snapshot {
    QString iniPath, devDir, sysDir;
    QList<PortEntry> overrides;
};

Snapshot TakeSnapshot()
{
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    return {s.iniPath, s.devDir, s.sysDir, s.overrides};
}

// Appends entries whose number and device are not yet taken.
void Merge(QList<PortEntry>& into, QList<QString>& devices, const QList<PortEntry>& from)
{
    for (const PortEntry& e : from) {
        const bool numberTaken = std::any_of(into.begin(), into.end(),
                                             [&](const PortEntry& x) { return x.number == e.number; });
        const QString dev = Canonical(e.device);
        if (numberTaken || devices.contains(dev))
            continue;
        into.append(e);
        devices.append(dev);
    }
}

} // namespace

void SetPortSettingsFile(const QString& iniPath)
{
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    s.iniPath = iniPath;
}

QString PortSettingsFile()
{
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    return s.iniPath;
}

void SetPortOverride(int number, const QString& device)
{
    if (number < 1 || number > kMaxPortNumber)
        return;
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.overrides.begin(), s.overrides.end(),
                           [&](const PortEntry& e) { return e.number == number; });
    if (device.isEmpty()) {
        if (it != s.overrides.end())
            s.overrides.erase(it);
    } else if (it != s.overrides.end()) {
        it->device = device;
    } else {
        s.overrides.append({number, ComName(number), device});
    }
}

void ClearPortOverrides()
{
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    s.overrides.clear();
}

void SetDeviceScanRoots(const QString& devDir, const QString& sysClassTtyDir)
{
    DirState& s = State();
    std::lock_guard lock(s.mutex);
    s.devDir = devDir.isEmpty() ? QStringLiteral("/dev") : devDir;
    s.sysDir = sysClassTtyDir.isEmpty() ? QStringLiteral("/sys/class/tty") : sysClassTtyDir;
}

QList<PortEntry> PortDirectory()
{
    const Snapshot snap = TakeSnapshot();
    QList<PortEntry> out;
    QList<QString> devices;
    Merge(out, devices, snap.overrides);
    Merge(out, devices, ReadIniPorts(snap.iniPath));
    Merge(out, devices, ScanDevices(snap.devDir, snap.sysDir));
    return out;
}

QString DevicePathOfPort(int number)
{
    if (number < 1 || number > kMaxPortNumber)
        return {};
    const Snapshot snap = TakeSnapshot();
    QList<PortEntry> named;
    QList<QString> devices;
    Merge(named, devices, snap.overrides);
    Merge(named, devices, ReadIniPorts(snap.iniPath));
    for (const PortEntry& e : named)
        if (e.number == number)
            return e.device;
    // Only the one device this number can stand for needs looking at.
    const QString name = DeviceNameOfNumber(number);
    if (name.isEmpty() || !DeviceFound(snap.devDir, snap.sysDir, name))
        return {};
    const QString path = snap.devDir + QLatin1Char('/') + name;
    return devices.contains(Canonical(path)) ? QString() : path;
}

void ListSerialPortNames(QStringList& list)
{
    list.clear();
    for (const PortEntry& e : PortDirectory())
        list.append(e.name);
}

int PortNumberOfName(const QString& name)
{
    if (name.size() < 4 || name.size() > 12 || !name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return -1;
    int n = 0;
    for (int i = 3; i < name.size(); ++i) {
        const QChar c = name.at(i);
        if (c.unicode() < '0' || c.unicode() > '9')
            return -1;
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

void ListSerialPortNumbers(QStringList& list)
{
    QStringList names;
    ListSerialPortNames(names);
    list.clear();
    for (const QString& name : names) {
        const int n = PortNumberOfName(name);
        if (n >= 0)
            list.append(QString::number(n));
    }
}

int FirstSerialPortNumber()
{
    QStringList numbers;
    ListSerialPortNumbers(numbers);
    return numbers.isEmpty() ? 1 : numbers.first().toInt();
}

} // namespace mx

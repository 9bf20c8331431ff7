// The port directory: which device each serial port number ("COM<n>") stands for.
// Entries set in-process come first, then section "Ports" of LED.ini (COM<n>=<device path>),
// then the serial devices found on this machine. Pseudo-terminals are never found, but may
// be named in LED.ini or set in-process.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace mx {

struct PortEntry {
    int number = 0;   // 1 ... 1024
    QString name;     // "COM<n>"
    QString device;   // the device path to open
};

constexpr int kMaxPortNumber = 1024;

// Where LED.ini is; empty for none.
void SetPortSettingsFile(const QString& iniPath);
QString PortSettingsFile();
// An in-process entry (CLI --device, tests); it takes precedence over LED.ini and found
// devices. An empty device removes it. Numbers outside 1 ... 1024 are ignored.
void SetPortOverride(int number, const QString& device);
void ClearPortOverrides();
// Where found devices are looked for ("/dev" and "/sys/class/tty" unless set; empty
// arguments restore those). Lets tests lay out a device tree of their own.
void SetDeviceScanRoots(const QString& devDir, const QString& sysClassTtyDir);

// Every entry, each number once, in the order the controller search tries them:
// in-process entries in the order they were set, then LED.ini by number, then found
// devices by number. A device already named by an earlier entry is not listed again.
QList<PortEntry> PortDirectory();
// The device of a number; empty when the number names none.
QString DevicePathOfPort(int number);

// "COM<n>" of every entry, in directory order; the list is cleared first.
void ListSerialPortNames(QStringList& list);
// 12 for "COM12" (case-insensitive "COM", then decimal digits only); -1 for anything else.
int PortNumberOfName(const QString& name);
// The decimal numbers of ListSerialPortNames, skipping names that are not COM + number.
void ListSerialPortNumbers(QStringList& list);
// The first number of the list; 1 when it is empty.
int FirstSerialPortNumber();

} // namespace mx

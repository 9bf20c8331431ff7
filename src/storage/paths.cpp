#include "storage/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace mx {

QString AppDataDir()
{
    // The same folder as AppDataLocation for the application "Marquix", whatever name the
    // running program gave itself.
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Marquix");
    QDir().mkpath(dir);
    return dir;
}

QString SettingsFilePath() { return AppDataDir() + QStringLiteral("/LED.ini"); }
QString DefaultProjectPath() { return AppDataDir() + QStringLiteral("/Marquix.lcm"); }

} // namespace mx

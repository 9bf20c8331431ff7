#include "storage/settings.h"

#include "link/portdir.h"
#include "model/panel.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace mx {

namespace {
const QString kLastFileKey = QStringLiteral("APP/LastFile");

void newProject(TLCMPanels& project)
{
    project.Clear();
    TLCMPanel* screen = project.AddPanel();
    screen->name = project.NextFreeScreenName();
    project.serialPortNumber = FirstSerialPortNumber();
}

// Keeps a damaged project where the next save cannot reach it.
QString copyAside(const QString& path)
{
    const QString aside =
        path + QStringLiteral(".damaged-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::copy(path, aside) ? aside : QString();
}
} // namespace

QString ReadLastFile(const QString& iniPath)
{
    if (iniPath.isEmpty() || !QFileInfo::exists(iniPath))
        return {};
    QSettings ini(iniPath, QSettings::IniFormat);
    return ini.value(kLastFileKey).toString();
}

bool WriteLastFile(const QString& iniPath, const QString& projectPath, QString* error)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    ini.setValue(kLastFileKey, projectPath);
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        if (error)
            *error = QStringLiteral("%1 cannot be written").arg(QDir::toNativeSeparators(iniPath));
        return false;
    }
    return true;
}

StartupOutcome OpenStartupProject(TLCMPanels& project, const QString& iniPath, const QString& defaultProjectPath)
{
    StartupOutcome out;
    out.currentPath = ReadLastFile(iniPath);
    // A LastFile that vanished falls back to the default project like a missing one: starting
    // empty would let the next close overwrite it.
    QString candidate;
    if (!out.currentPath.isEmpty() && QFileInfo::exists(out.currentPath))
        candidate = out.currentPath;
    else if (QFileInfo::exists(defaultProjectPath))
        candidate = defaultProjectPath;
    if (!candidate.isEmpty()) {
        const StorageResult r = LoadProject(candidate, project);
        if (r.ok) {
            out.currentPath = candidate;
            out.loaded = true;
            return out;
        }
        const QString aside = copyAside(candidate);
        out.message = aside.isEmpty() ? r.message
                                      : r.message + QStringLiteral("\nA copy was kept as %1.").arg(QDir::toNativeSeparators(aside));
    }
    newProject(project);
    return out;
}

StorageResult SaveAtClose(const TLCMPanels& project, const QString& iniPath, const QString& defaultProjectPath)
{
    StorageResult r = SaveProject(project, defaultProjectPath);
    if (!r.ok)
        return r;
    QString error;
    if (!WriteLastFile(iniPath, defaultProjectPath, &error))
        return {false, error, -1};
    return r;
}

} // namespace mx

// LED.ini and the project the tool starts with and saves at close.
#pragma once

#include "storage/project_file.h"

#include <QString>

namespace mx {

class TLCMPanels;

// Section "APP", key "LastFile" of LED.ini; empty when missing.
QString ReadLastFile(const QString& iniPath);
bool WriteLastFile(const QString& iniPath, const QString& projectPath, QString* error = nullptr);

struct StartupOutcome {
    QString currentPath;  // the project path the window holds
    bool loaded = false;  // a project file was loaded
    QString message;      // a project that could not be loaded, and where its copy went
};

// Loads LastFile when it names an existing file; otherwise (missing, empty or vanished) the
// default project when it exists; otherwise a new project of one screen ("1号屏") on the first serial
// port. A damaged file is copied aside before anything can overwrite it.
StartupOutcome OpenStartupProject(TLCMPanels& project, const QString& iniPath, const QString& defaultProjectPath);

// Saves to the default project path and records it as LastFile.
StorageResult SaveAtClose(const TLCMPanels& project, const QString& iniPath, const QString& defaultProjectPath);

} // namespace mx

// Where the tool keeps its settings and default project: the per-user data folder.
#pragma once

#include <QString>

namespace mx {

// Created on first use ($XDG_DATA_HOME/Marquix, usually ~/.local/share/Marquix).
QString AppDataDir();
QString SettingsFilePath();       // LED.ini
QString DefaultProjectPath();     // Marquix.lcm

} // namespace mx

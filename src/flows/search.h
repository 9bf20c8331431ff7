// Finding the serial port on which a controller answers.
#pragma once

#include <QString>

#include <functional>

namespace mx {

class TLCMPanel;

// The search's own texts, for the status line.
QString SearchPortText(int port, int baudRate);        // "COM3 @ 57600"
QString SearchingText(int port, int baudRate);         // "查找端口 COM3 @ 57600"
QString FoundText(const QString& version, int port, int baudRate);
QString NotFoundText();

struct SearchReport {
    std::function<void(const QString& status)> status;
    std::function<void(int position)> progress; // 0 ... 100
};

// Tries every port of the directory at the screen's baud rate until one answers the version,
// parameter and partition queries. On success the project's port number is that port; on
// failure it is back at what it was. The port is closed when the search ends.
bool SearchController(TLCMPanel* screen, const SearchReport& report);

} // namespace mx

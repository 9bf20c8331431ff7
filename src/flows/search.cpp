#include "flows/search.h"

#include "link/engine_env.h"
#include "link/portdir.h"
#include "model/panel.h"

namespace mx {

QString SearchPortText(int port, int baudRate)
{
    return QStringLiteral("COM%1 @ %2").arg(port).arg(baudRate);
}

QString SearchingText(int port, int baudRate)
{
    return QStringLiteral("查找端口 ") + SearchPortText(port, baudRate);
}

QString FoundText(const QString& version, int port, int baudRate)
{
    return QStringLiteral("查找到 ") + version + u' ' + SearchPortText(port, baudRate);
}

QString NotFoundText() { return QStringLiteral("没有找到控制卡，请检查硬件后重新查找。"); }

bool SearchController(TLCMPanel* screen, const SearchReport& report)
{
    if (!screen)
        return false;
    auto status = [&](const QString& text) {
        if (report.status)
            report.status(text);
        Pump();
    };
    auto progressTo = [&](int position) {
        if (report.progress)
            report.progress(position);
        Pump();
    };

    QStringList ports;
    ListSerialPortNumbers(ports);
    const int step = ports.isEmpty() ? 0 : 100 / (2 * int(ports.size()));
    progressTo(0);
    int progress = 0;
    const int remembered = screen->SerialPortNumber();
    bool found = false;

    for (const QString& text : ports) {
        const int p = text.toInt();
        screen->SetSerialPortNumber(p);
        status(SearchingText(p, screen->baudRate));
        screen->CloseLink();
        if (!screen->OpenLink())
            continue;
        Pump();
        if (!screen->ReadVersion())
            continue;
        progress += step;
        progressTo(progress);
        if (!screen->ReadParameters() || !screen->ReadPartitions())
            continue;
        progress += step;
        progressTo(progress);
        status(FoundText(screen->versionText, p, screen->baudRate));
        screen->CloseLink();
        found = true;
        break;
    }
    progressTo(100);
    if (!found) {
        status(NotFoundText());
        screen->SetSerialPortNumber(remembered);
    }
    screen->CloseLink();
    return found;
}

} // namespace mx

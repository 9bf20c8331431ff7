// marquix-cli's device commands: each connects, runs its operations and closes the port.
#include "marquix-cli.h"

#include "flows/flows.h"
#include "flows/search.h"
#include "model/panel.h"
#include "storage/project_json.h"
#include "flows/outcome_text.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace cli {
namespace {

using mx::TLCMPanel;

std::optional<QTime> parseHm(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QTime t(m.captured(1).toInt(), m.captured(2).toInt());
    return t.isValid() ? std::optional<QTime>(t) : std::nullopt;
}

QString partitionLine(const mx::TLCMPartition& p)
{
    QStringList rects;
    for (const mx::LcmRect& r : p.Rects())
        rects << QStringLiteral("%1,%2,%3,%4").arg(r.left).arg(r.top).arg(r.right).arg(r.bottom);
    return QStringLiteral("type %1: %2").arg(p.type).arg(rects.join(u' '));
}

} // namespace

int RunDeviceCommand(const QString& command, Args& args)
{
    mx::TLCMPanels project;
    TLCMPanel& screen = *project.AddPanel();
    if (!SelectPort(args, screen, command == QLatin1String("search")))
        return ExitUsage;
    const auto address = args.intValue(QStringLiteral("address"), 1, 0, 65535);
    if (!address)
        return usage(args.error());
    screen.address = uint16_t(*address);
    const QStringList& pos = args.positionals();

    if (command == QLatin1String("search")) {
        if (!pos.isEmpty())
            return usage(QStringLiteral("search takes no arguments"));
        mx::SearchReport report;
        report.status = [](const QString& s) { out(s); };
        const bool found = mx::SearchController(&screen, report);
        if (found)
            out(QStringLiteral("port %1").arg(screen.SerialPortNumber()));
        return found ? ExitOk : ExitDevice;
    }

    auto report = [&](const mx::FlowResult& r) {
        const QString text = mx::text::OutcomeText(r.outcome);
        if (r.ok()) {
            out(text);
            return int(ExitOk);
        }
        err(text);
        if (!r.detail.isEmpty())
            err(r.detail);
        return int(ExitDevice);
    };

    // Check the arguments before touching the line.
    std::optional<int> level;
    std::optional<mx::PowerSchedule> schedule;
    std::optional<mx::ParamRecord> newParams;
    bool write = false;
    if (command == QLatin1String("brightness")) {
        if (pos.size() > 1)
            return usage(QStringLiteral("brightness takes at most one LEVEL"));
        if (pos.size() == 1) {
            bool ok = false;
            level = pos[0].toInt(&ok);
            if (!ok || *level < 0 || *level > 15)
                return usage(QStringLiteral("LEVEL must be 0 to 15"));
        }
    } else if (command == QLatin1String("power")) {
        if (!pos.isEmpty()) {
            bool ok = false;
            const int mode = pos.value(0).toInt(&ok);
            const auto on = parseHm(pos.value(1));
            const auto off = parseHm(pos.value(2));
            if (pos.size() != 3 || !ok || mode < 0 || mode > 255 || !on || !off)
                return usage(QStringLiteral("power takes MODE ON OFF, for example: power 1 07:30 22:00"));
            schedule = mx::PowerSchedule{mode, on->hour(), on->minute(), off->hour(), off->minute()};
        }
    } else if (command == QLatin1String("params") || command == QLatin1String("partitions")) {
        const QString verb = pos.value(0, QStringLiteral("read"));
        if (verb != QLatin1String("read") && verb != QLatin1String("write"))
            return usage(QStringLiteral("%1 read | write").arg(command));
        write = verb == QLatin1String("write");
        // A project's screen gives what the card should have: its parameters or its partitions.
        if (write && args.has(QStringLiteral("project"))) {
            if (pos.size() != 1)
                return usage(QStringLiteral("%1 write --project PROJECT [--screen N]").arg(command));
            mx::TLCMPanels source;
            if (const int rc = LoadAnyProject(args.value(QStringLiteral("project")), source))
                return rc;
            mx::TLCMPanel* from = SelectScreen(args, source);
            if (!from)
                return ExitUsage;
            if (command == QLatin1String("params")) {
                newParams = from->params;
            } else {
                screen.params = from->params;
                screen.partition->type = from->partition->type;
                screen.partition->ClearRects();
                for (const mx::LcmRect& r : from->partition->Rects())
                    screen.partition->AddRect(r);
                return report(mx::SendPartitionLayout(screen));
            }
        } else if (command == QLatin1String("params") && write) {
            if (pos.size() != 2)
                return usage(QStringLiteral("params write FILE"));
            QFile f(pos[1]);
            if (!f.open(QIODevice::ReadOnly)) {
                err(QStringLiteral("%1: %2").arg(pos[1], f.errorString()));
                return ExitInput;
            }
            QJsonParseError pe;
            const QJsonDocument doc = QJsonDocument::fromJson(f.read(1 << 20), &pe);
            QString error;
            if (!doc.isObject()) {
                err(QStringLiteral("%1: not a JSON object (%2 at byte %3)").arg(pos[1], pe.errorString()).arg(pe.offset));
                return ExitInput;
            }
            newParams = mx::ParamsFromJson(doc.object(), &error);
            if (!newParams) {
                err(QStringLiteral("%1: %2").arg(pos[1], error));
                return ExitInput;
            }
        }
        else if (command == QLatin1String("partitions") && write) {
            const QStringList rects = args.values(QStringLiteral("rect"));
            if (rects.isEmpty() || rects.size() > mx::kMaxTablePartitions)
                return usage(QStringLiteral("partitions write takes one to four --rect L,T,R,B"));
            screen.partition->ClearRects();
            for (const QString& r : rects) {
                const QStringList v = r.split(u',');
                bool ok = v.size() == 4;
                int n[4] = {};
                for (int i = 0; ok && i < 4; ++i)
                    n[i] = v[i].toInt(&ok);
                if (!ok || n[0] < 0 || n[1] < 0 || n[2] <= n[0] || n[3] <= n[1] || n[2] > 2040 || n[3] > 2040
                    || n[0] % 8 || n[1] % 8 || n[2] % 8 || n[3] % 8)
                    return usage(QStringLiteral("--rect %1: four multiples of 8, L,T,R,B with R > L and B > T").arg(r));
                screen.partition->AddRect({n[0], n[1], n[2], n[3]});
            }
        }
    } else if (!pos.isEmpty()) {
        return usage(QStringLiteral("%1 takes no arguments").arg(command));
    }

    if (command == QLatin1String("version")) {
        const bool ok = screen.Connect(false);
        screen.CloseLink();
        if (!ok)
            return report({mx::Outcome::NoController, mx::LineDetail(screen), {}, {}});
        out(screen.versionText);
        return report({mx::Outcome::Success, {}, {}, {}});
    }
    if (command == QLatin1String("clear"))
        return report(mx::ClearScreen(screen));
    if (command == QLatin1String("sync-clock"))
        return report(mx::SyncClock(screen));
    if (command == QLatin1String("brightness")) {
        if (level)
            return report(mx::SetBrightness(screen, *level));
        int read = 0;
        const mx::FlowResult r = mx::ReadBrightness(screen, &read);
        if (r.ok())
            out(QStringLiteral("brightness %1").arg(read));
        return report(r);
    }
    if (command == QLatin1String("power")) {
        if (schedule)
            return report(mx::SendPowerSchedule(screen, *schedule));
        mx::PowerSchedule s = mx::DefaultPowerSchedule();
        const mx::FlowResult r = mx::ReadPowerScheduleAsIs(screen, s);
        if (r.ok())
            out(QStringLiteral("mode %1 on %2:%3 off %4:%5")
                    .arg(s.mode)
                    .arg(s.onHour, 2, 10, QChar(u'0'))
                    .arg(s.onMinute, 2, 10, QChar(u'0'))
                    .arg(s.offHour, 2, 10, QChar(u'0'))
                    .arg(s.offMinute, 2, 10, QChar(u'0')));
        return report(r);
    }
    if (command == QLatin1String("params")) {
        if (write)
            return report(mx::WriteScreenParameters(screen, *newParams));
        const mx::FlowResult r = mx::ReadScreenParameters(screen);
        if (r.ok())
            out(QString::fromUtf8(QJsonDocument(mx::ParamsToJson(screen.params)).toJson(QJsonDocument::Indented)).trimmed());
        return report(r);
    }
    if (command == QLatin1String("partitions")) {
        if (!write) {
            const mx::FlowResult r = mx::ReadScreenParameters(screen);
            if (r.ok())
                out(screen.PartitionsSet ? partitionLine(*screen.partition) : QStringLiteral("none set"));
            return report(r.ok() ? mx::FlowResult{mx::Outcome::Success, {}, {}, {}} : mx::FlowResult{mx::Outcome::Timeout, r.detail, {}, {}});
        }
        // A single rectangle stands for the whole screen, whose size the card knows.
        if (screen.partition->GetCount() == 1) {
            const bool ok = screen.Connect(false) && screen.ReadParameters();
            screen.CloseLink();
            if (!ok)
                return report({mx::Outcome::NoController, mx::LineDetail(screen), {}, {}});
        }
        mx::ClassifyRects(screen, screen.partition->GetCount());
        return report(mx::SendPartitionLayout(screen));
    }
    return usage(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace cli

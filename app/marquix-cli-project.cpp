// marquix-cli's project commands: inspect, convert and export project files.
#include "marquix-cli.h"

#include "model/panel.h"
#include "model/partition.h"
#include "model/rtfpage.h"
#include "model/text.h"
#include "flows/page_render.h"
#include "flows/program.h"
#include "storage/project_json.h"
#include "flows/sd_export.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace cli {
namespace {

bool isJson(const QString& path) { return path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive); }
bool isLcm(const QString& path) { return path.endsWith(QStringLiteral(".lcm"), Qt::CaseInsensitive); }

QString kindName(uint16_t kind)
{
    switch (kind) {
    case mx::KindText: return QStringLiteral("text");
    case mx::KindRtf: return QStringLiteral("rich text");
    case mx::KindImage: return QStringLiteral("picture");
    case mx::KindTimer: return QStringLiteral("clock");
    case mx::KindTemperature: return QStringLiteral("temperature");
    case mx::KindConter: return QStringLiteral("countdown");
    case mx::KindTimerEx: return QStringLiteral("dial");
    default: return QStringLiteral("?");
    }
}

// Two LED rows per text line: the upper dot is the glyph's colour, the lower one its background.
void printOnTerminal(const QImage& source)
{
    const QImage img = source.convertToFormat(QImage::Format_RGB888);
    QByteArray text;
    for (int y = 0; y < img.height(); y += 2) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor top = img.pixelColor(x, y);
            const QColor bottom = y + 1 < img.height() ? img.pixelColor(x, y + 1) : QColor(Qt::black);
            text += QStringLiteral("\033[38;2;%1;%2;%3m\033[48;2;%4;%5;%6m\u2580")
                        .arg(top.red()).arg(top.green()).arg(top.blue())
                        .arg(bottom.red()).arg(bottom.green()).arg(bottom.blue())
                        .toUtf8();
        }
        text += "\033[0m\n";
    }
    std::fputs(text.constData(), stdout);
}

} // namespace

int LoadAnyProject(const QString& path, mx::TLCMPanels& project)
{
    mx::StorageResult r;
    if (isJson(path)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            err(QStringLiteral("%1 cannot be opened: %2").arg(QDir::toNativeSeparators(path), f.errorString()));
            return ExitInput;
        }
        r = mx::ProjectFromJson(f.readAll(), project, QDir::toNativeSeparators(path), QFileInfo(path).absolutePath());
    } else {
        r = mx::LoadProject(path, project);
    }
    if (!r.ok) {
        err(r.message);
        return ExitInput;
    }
    return ExitOk;
}

mx::TLCMPanel* SelectScreen(Args& args, mx::TLCMPanels& project)
{
    const auto n = args.intValue(QStringLiteral("screen"), 1, 1, std::max(1, project.Count()));
    if (!n || project.Count() == 0) {
        usage(project.Count() == 0 ? QStringLiteral("the project has no screens") : args.error());
        return nullptr;
    }
    return project.GetPanel(*n - 1);
}

int RunProjectCommand(const QString& command, Args& args)
{
    const QStringList& pos = args.positionals();
    if (command == QLatin1String("convert")) {
        if (pos.size() != 2)
            return usage(QStringLiteral("convert IN OUT"));
        if (!(isJson(pos[1]) || isLcm(pos[1])))
            return usage(QStringLiteral("OUT must end in .lcm or .json"));
        mx::TLCMPanels project;
        if (const int rc = LoadAnyProject(pos[0], project))
            return rc;
        mx::StorageResult r;
        if (isJson(pos[1]))
            r = mx::WriteFileAtomically(pos[1], mx::ProjectToJson(project));
        else
            r = mx::SaveProject(project, pos[1]);
        if (!r.ok) {
            err(r.message);
            return ExitDevice;
        }
        out(QStringLiteral("%1 written").arg(QDir::toNativeSeparators(pos[1])));
        return ExitOk;
    }

    if (pos.size() != 1)
        return usage(QStringLiteral("%1 PROJECT").arg(command));
    mx::TLCMPanels project;
    if (const int rc = LoadAnyProject(pos[0], project))
        return rc;

    if (command == QLatin1String("info")) {
        if (args.has(QStringLiteral("json"))) {
            std::fputs(mx::ProjectToJson(project).constData(), stdout);
            return ExitOk;
        }
        out(QStringLiteral("%1: %2 screen(s), serial port COM%3")
                .arg(QDir::toNativeSeparators(pos[0]))
                .arg(project.Count())
                .arg(project.serialPortNumber));
        for (int i = 0; i < project.Count(); ++i) {
            mx::TLCMPanel& s = *project.GetPanel(i);
            // The slots and warnings a send gives: rich text laid out, the program's limit applied.
            const mx::ProgramCheck check = mx::CheckProgram(s, RichTextRenderer(), mx::kProgramSlots);
            int used = 0;
            for (const int n : check.slots)
                used += n;
            out(QStringLiteral("screen %1 \"%2\": address %3, %4 x %5 dots, colour type %6, partition type %7 "
                               "with %8 area(s), %9 page(s), %10 of 80 program slots")
                    .arg(i + 1)
                    .arg(s.name)
                    .arg(s.address)
                    .arg(s.Width())
                    .arg(s.Height())
                    .arg(s.ColourType())
                    .arg(s.partition->type)
                    .arg(s.partition->GetCount())
                    .arg(s.units->GetCount())
                    .arg(used));
            for (int k = 0; k < s.units->GetCount(); ++k) {
                mx::TLCMSendMsg& p = *s.units->GetPage(k);
                const QString slots = k < check.slots.size()
                                          ? (check.slots[k] ? QStringLiteral("%1 slot(s)").arg(check.slots[k])
                                                            : QStringLiteral("no slot left"))
                                          : QStringLiteral("not checked");
                out(QStringLiteral("  page %1: %2 \"%3\", partition %4%5, %6")
                        .arg(k + 1)
                        .arg(kindName(p.kind), p.GetName())
                        .arg(p.GetPartition())
                        .arg(mx::PagePartitionMissing(s, p) ? QStringLiteral(" (no such area: plays in area 1)")
                                                            : QString())
                        .arg(slots));
            }
            if (check.outcome != mx::Outcome::Success)
                out(QStringLiteral("  cannot be sent: %1").arg(check.detail));
            for (const QString& w : check.warnings)
                out(QStringLiteral("  warning: %1").arg(w));
        }
        return ExitOk;
    }

    if (command == QLatin1String("render")) {
        mx::TLCMPanel* screen = SelectScreen(args, project);
        if (!screen)
            return ExitUsage;
        if (!args.has(QStringLiteral("out")))
            return usage(QStringLiteral("render needs --out DIR"));
        const int count = screen->units->GetCount();
        const auto page = args.intValue(QStringLiteral("page"), 0, 1, std::max(1, count));
        if (!page)
            return usage(args.error());
        const QString dir = args.value(QStringLiteral("out"));
        if (!QDir().mkpath(dir)) {
            err(QStringLiteral("%1 cannot be created").arg(QDir::toNativeSeparators(dir)));
            return ExitDevice;
        }
        bool allOk = true;
        const int first = *page ? *page - 1 : 0;
        const int last = *page ? *page - 1 : count - 1;
        for (int k = first; k <= last; ++k) {
            const mx::RenderedPage r = mx::RenderPageAsSent(*screen, k);
            for (qsizetype i = 0; i < r.images.size(); ++i) {
                const QString file = QDir(dir).filePath(QStringLiteral("page-%1-%2.png").arg(k + 1).arg(i + 1));
                if (!r.images[i].save(file, "PNG")) {
                    err(QStringLiteral("%1 cannot be written").arg(QDir::toNativeSeparators(file)));
                    return ExitDevice;
                }
                out(QDir::toNativeSeparators(file));
                if (args.has(QStringLiteral("terminal")))
                    printOnTerminal(r.images[i]);
            }
            if (!r.note.isEmpty())
                (r.ok ? out : err)(QStringLiteral("page %1: %2").arg(k + 1).arg(r.note));
            for (const QString& w : r.warnings)
                err(QStringLiteral("page %1: warning: %2").arg(k + 1).arg(w));
            allOk = allOk && r.ok;
        }
        return allOk ? ExitOk : ExitDevice;
    }

    if (command == QLatin1String("export-sd")) {
        mx::TLCMPanel* screen = SelectScreen(args, project);
        if (!screen)
            return ExitUsage;
        if (!args.has(QStringLiteral("dir")))
            return usage(QStringLiteral("export-sd needs --dir DIR"));
        const mx::ExportOutcome r = mx::ExportSd(*screen, args.value(QStringLiteral("dir")), RichTextRenderer());
        for (const QString& w : r.warnings)
            err(QStringLiteral("warning: %1").arg(w));
        (r.ok ? out : err)(r.message);
        if (r.written)
            out(QStringLiteral("%1: %2 blocks").arg(QDir::toNativeSeparators(r.path)).arg(r.blocks));
        return r.ok ? ExitOk : ExitDevice;
    }
    return usage(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace cli

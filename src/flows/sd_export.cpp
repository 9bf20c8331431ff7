#include "flows/sd_export.h"

#include "model/panel.h"
#include "model/rtfpage.h"
#include "storage/project_file.h"
#include "flows/outcome_text.h"

#include <QBuffer>
#include <QDir>

namespace mx {

namespace {
// The one difference from a send: the export has always stopped once the next program number
// reaches 80, so files never use slot 80; cards loading them are known only with that limit.
constexpr int kLastExportSlot = kProgramSlots - 1;
} // namespace

ExportOutcome ExportSd(TLCMPanel& screen, const QString& dir, const RichTextRenderer& render)
{
    ExportOutcome out;
    out.path = QDir(dir).filePath(QStringLiteral("led.sd"));
    if (screen.units->GetCount() == 0) {
        out.message = QStringLiteral("%1 has no pages; nothing was written.").arg(screen.GetName());
        return out;
    }
    const ProgramCheck check = CheckProgram(screen, render, kLastExportSlot);
    out.warnings = check.warnings;
    if (check.outcome != Outcome::Success) {
        out.message = QStringLiteral("%1 was not written: %2.").arg(QDir::toNativeSeparators(out.path), check.detail);
        return out;
    }

    QByteArray bytes;
    QBuffer file(&bytes);
    file.open(QIODevice::WriteOnly);
    ExportTransport line(file);
    LentTransport lend(screen, line);
    screen.WriteParameters();
    screen.WritePartitions();
    const ProgramWalk walk = WalkProgram(screen, kLastExportSlot, [&](int index, int firstSlot, int* used) {
        return screen.SendPage(index, firstSlot, used);
    });
    out.missing = walk.missing;
    screen.MarkSendAll(1);
    out.blocks = int(bytes.size() / kExportRecordSize);

    const StorageResult saved = WriteFileAtomically(out.path, bytes);
    if (!saved.ok) {
        out.message = saved.message;
        return out;
    }
    out.written = true;
    out.ok = walk.outcome == Outcome::Success;
    if (out.ok) {
        out.message = text::Saved();
        return out;
    }
    const QString why = walk.outcome == Outcome::ProgramFull ? text::ProgramFull() + u' ' + walk.detail : walk.detail;
    out.message = QStringLiteral("%1 was written without %2 page(s): %3\nNot in the file: %4.")
                      .arg(QDir::toNativeSeparators(out.path))
                      .arg(out.missing.size())
                      .arg(why, out.missing.join(QStringLiteral(", ")));
    return out;
}

} // namespace mx

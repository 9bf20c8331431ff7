#include "storage/sd_export.h"

#include "model/panel.h"
#include "model/rtfpage.h"
#include "render/rich_text.h"
#include "storage/project_file.h"
#include "ui/strings/messages.h"

#include <QBuffer>
#include <QDir>

namespace mx {

namespace {
QString pageLabel(int index, const TLCMSendMsg& page)
{
    return QStringLiteral("%1 (%2)").arg(index + 1).arg(page.GetName());
}
} // namespace

ExportOutcome ExportSd(TLCMPanel& screen, const QString& dir, const RichTextRenderer& render)
{
    ExportOutcome out;
    out.path = QDir(dir).filePath(QStringLiteral("led.sd"));
    if (screen.units->GetCount() == 0) {
        out.message = QStringLiteral("%1 has no pages; nothing was written.").arg(screen.GetName());
        return out;
    }
    QByteArray bytes;
    QBuffer file(&bytes);
    file.open(QIODevice::WriteOnly);
    screen.WriteParameters(true, &file);
    screen.WritePartitions(true, &file);

    QStringList reasons;
    int next = 1;
    int i = 0;
    for (; i < screen.units->GetCount(); ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        if (page->kind == KindRtf) {
            QString why;
            const RichTextRenderer& layout = render ? render : RichTextRenderer(LayOutRichText);
            if (!layout(static_cast<TLCMRtf&>(*page), screen, &why)) {
                reasons << QStringLiteral("page %1 could not be laid out: %2").arg(pageLabel(i, *page), why);
                break;
            }
        }
        int used = 0;
        if (!screen.SendPage(i, next, &file, true, &used)) {
            reasons << QStringLiteral("page %1 cannot be exported").arg(pageLabel(i, *page));
            break;
        }
        next += used;
        if (next >= kProgramSlots) {
            ++i;
            if (i < screen.units->GetCount())
                reasons << text::ProgramFull();
            break;
        }
    }
    for (int k = (reasons.isEmpty() ? screen.units->GetCount() : i); k < screen.units->GetCount(); ++k)
        out.missing << pageLabel(k, *screen.units->GetPage(k));
    screen.MarkSendAll(1, true, &file);
    out.blocks = int(bytes.size() / kExportRecordSize);

    const StorageResult saved = WriteFileAtomically(out.path, bytes);
    if (!saved.ok) {
        out.message = saved.message;
        return out;
    }
    out.written = true;
    out.ok = reasons.isEmpty();
    out.message = out.ok ? text::Saved()
                         : QStringLiteral("%1 was written without %2 page(s): %3. Not in the file: %4.")
                               .arg(QDir::toNativeSeparators(out.path))
                               .arg(out.missing.size())
                               .arg(reasons.join(QStringLiteral("; ")), out.missing.join(QStringLiteral(", ")));
    return out;
}

} // namespace mx

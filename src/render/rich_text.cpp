#include "render/rich_text.h"

#include "model/panel.h"
#include "model/rtfpage.h"
#include "codec/rtf_reader.h"
#include "codec/rtf_writer.h"

#include <QTextDocument>

namespace mx {

namespace {
// The project file keeps a rich-text document with a 16-bit length.
constexpr qsizetype kMaxStoredRtfBytes = 0xFFFF;
} // namespace

TRTFDecodeUnit& SharedRenderer()
{
    static TRTFDecodeUnit renderer;
    return renderer;
}

RenderResult RenderRichTextPage(TLCMRtf& page, TLCMPanel& screen)
{
    auto fail = [&page](const QString& why) {
        page.ClearLedPages();
        page.payloadSize = 0;
        RenderResult r;
        r.message = why;
        return r;
    };
    QTextDocument doc;
    const RtfReadResult read = ReadRtf(page.Document(), doc);
    if (!read.ok)
        return fail(QStringLiteral("the page \"%1\" holds no readable rich text%2")
                        .arg(page.GetName(), read.message.isEmpty() ? QString() : QStringLiteral(": ") + read.message));
    const std::optional<LcmRect> area = PageArea(screen, page);
    if (!area)
        return fail(QStringLiteral("the page \"%1\" plays in partition %2, which the screen does not have")
                        .arg(page.GetName())
                        .arg(page.GetPartition()));

    TRTFDecodeUnit& renderer = SharedRenderer();
    const TRTFDecodeUnit::Binding previous = renderer.CurrentBinding();
    renderer.Bind(&doc, screen.params, *area, &page);
    RenderResult result = renderer.Render();
    renderer.Bind(previous);

    QStringList notes;
    if (!result.message.isEmpty())
        notes << result.message;
    if (read.truncated)
        notes << read.message;
    if (result.ok && result.shrunk) {
        const QByteArray rtf = WriteRtf(doc);
        if (rtf.size() <= kMaxStoredRtfBytes)
            page.Document() = rtf;
        else
            notes << QStringLiteral("the shrunk document takes %1 bytes, more than a page stores (%2); the page keeps "
                                    "its document")
                         .arg(rtf.size())
                         .arg(kMaxStoredRtfBytes);
    }
    result.message = notes.join(QStringLiteral("; "));
    return result;
}

bool LayOutRichText(TLCMRtf& page, TLCMPanel& screen, QString* why)
{
    const RenderResult r = RenderRichTextPage(page, screen);
    if (!r.ok && why)
        *why = r.message;
    return r.ok;
}

} // namespace mx

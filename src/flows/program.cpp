#include "flows/program.h"

#include "model/page_checks.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "render/preview_text.h"
#include "render/rich_text.h"
#include "codec/rtf_reader.h"

#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace mx {

namespace {

QString colourName(int code)
{
    static const char* const names[] = {"black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"};
    return QLatin1String(names[code & 7]);
}

// The colour bits a screen has LEDs for. A single-colour screen shows every lit colour in red,
// so only the red and green screen loses any.
int shownBits(int colourType) { return colourType == 2 ? 3 : 7; }

// Characters of the document drawn in a colour without a lit channel on the screen.
int darkCharacters(const TLCMRtf& page, int colourType)
{
    if (shownBits(colourType) == 7)
        return 0;
    QTextDocument doc;
    if (!ReadRtf(page.Document(), doc).ok)
        return 0;
    const QColor automatic = IndexColor(page.U8(Rec::Colour));
    int dark = 0;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QTextCharFormat fmt = f.charFormat();
            const QColor c = fmt.hasProperty(QTextFormat::ForegroundBrush) ? fmt.foreground().color() : automatic;
            const bool lit = c.red() > 0 || c.green() > 0;
            if (!lit && c.blue() > 0)
                dark += int(f.text().trimmed().size());
        }
    }
    return dark;
}

// LED pages past the 30 a page may hold are dropped by design; past the last slot they are lost.
bool cutShort(TLCMSendMsg& page, int used)
{
    return page.kind == KindRtf && std::min(static_cast<TLCMRtf&>(page).LedPageEntries(), kMaxRtfSlots) > used;
}

} // namespace

QString PageLabel(int index, const TLCMSendMsg& page)
{
    return QStringLiteral("page %1 (%2)").arg(index + 1).arg(page.GetName());
}

QStringList PageWarnings(const TLCMPanel& screen, TLCMSendMsg& page)
{
    QStringList out;
    const int colourType = screen.ColourType();
    bool cardDraws = false;
    switch (page.kind) {
    case KindText: {
        auto& text = static_cast<TLCMText&>(page);
        text.Prepare();
        if (text.truncated)
            out << QStringLiteral("the text is longer than the %1 characters the card takes; the rest is cut")
                       .arg(kTextBufferSize / 2);
        cardDraws = true;
        break;
    }
    case KindTimer:
    case KindTemperature:
    case KindConter: {
        auto& t = static_cast<TTemplatePage&>(page);
        t.Prepare();
        t.FillPayload();
        if (t.truncated)
            out << QStringLiteral("the template expands past the %1 codes the card takes; the rest is cut")
                       .arg(kTemplateBufferUnits - 1);
        cardDraws = true;
        break;
    }
    case KindRtf: {
        const auto& rtf = static_cast<const TLCMRtf&>(page);
        if (rtf.LedPageEntries() > kMaxRtfSlots)
            out << QStringLiteral("%1 LED pages; the card takes the first %2").arg(rtf.LedPageEntries()).arg(kMaxRtfSlots);
        if (const int dark = darkCharacters(rtf, colourType))
            out << QStringLiteral("%1 character(s) in blue stay dark on this red and green screen").arg(dark);
        break;
    }
    default: break;
    }
    const int colour = page.U8(Rec::Colour) & 7;
    const int shown = colour & shownBits(colourType);
    if (cardDraws && shown != colour)
        out << (shown == 0 ? QStringLiteral("its colour, %1, is not lit on this red and green screen; the page stays dark")
                                 .arg(colourName(colour))
                           : QStringLiteral("its colour, %1, shows as %2 on this red and green screen")
                                 .arg(colourName(colour), colourName(shown)));
    return out;
}

ProgramCheck CheckProgram(TLCMPanel& screen, const RichTextRenderer& render, int lastSlot)
{
    ProgramCheck out;
    const RichTextRenderer& layout = render ? render : RichTextRenderer(LayOutRichText);
    int next = 1;
    for (int i = 0; i < screen.units->GetCount(); ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        const QString label = PageLabel(i, *page);
        if (page->kind == KindRtf) {
            QString why;
            if (!layout(static_cast<TLCMRtf&>(*page), screen, &why)) {
                out.outcome = Outcome::RenderFailed;
                out.detail = label + QStringLiteral(" could not be laid out: ") + why;
                return out;
            }
        }
        if (const QString why = PageRefusal(*page); !why.isEmpty()) {
            out.outcome = Outcome::PageRefused;
            out.detail = label + QStringLiteral(": ") + why;
            return out;
        }
        for (const QString& w : PageWarnings(screen, *page))
            out.warnings << label + QStringLiteral(": ") + w;
        int slots = 0;
        if (next <= lastSlot) {
            page->firstSlot = next;
            page->Prepare();
            out.packets += page->GetBlockCount();
            slots = page->GetSlotCount();
            next += slots;
            if (cutShort(*page, slots))
                next = lastSlot + 1; // the walk ends with this page
        }
        out.slots << slots;
    }
    return out;
}

ProgramWalk WalkProgram(TLCMPanel& screen, int lastSlot,
                        const std::function<bool(int, int, int*)>& sendPage, const std::function<bool()>& stop)
{
    ProgramWalk out;
    const int count = screen.units->GetCount();
    auto leaveOut = [&](int from, Outcome o, const QString& detail) {
        for (int k = from; k < count; ++k)
            out.missing << PageLabel(k, *screen.units->GetPage(k));
        out.outcome = o;
        out.detail = detail;
        return out;
    };
    int next = 1;
    for (int i = 0; i < count; ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        const QString label = PageLabel(i, *page);
        if (next > lastSlot)
            return leaveOut(i, Outcome::ProgramFull, QStringLiteral("pages from %1 on do not fit").arg(label));
        int used = 0;
        const bool sent = sendPage(i, next, &used);
        if (stop && stop())
            return leaveOut(i, Outcome::Stopped, QStringLiteral("stopped before ") + label + QStringLiteral(" was complete"));
        if (!sent)
            return leaveOut(i, Outcome::Timeout, label + QStringLiteral(" got no valid reply"));
        if (cutShort(*page, used))
            return leaveOut(i, Outcome::ProgramFull, label + QStringLiteral(" does not fit in the slots left"));
        next += used;
        out.pages += 1;
        out.slots += used;
    }
    return out;
}

} // namespace mx

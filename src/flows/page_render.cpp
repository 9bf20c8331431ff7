#include "flows/page_render.h"

#include "flows/program.h"
#include "link/packet.h"
#include "model/page_checks.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "render/picture_page.h"
#include "render/preview_text.h"
#include "render/rich_text.h"

#include <QBuffer>

#include <map>

namespace mx {

char16_t CharacterOfCode(uint16_t code)
{
    if (code <= 0x00FF)
        return code;
    if (code <= 0x076F)
        return char16_t(code + 0x1F00);
    if (code <= 0x0B6F)
        return char16_t(code + 0x2890);
    if (code <= 0x5D15)
        return char16_t(code + 0x4290);
    if (code <= 0x6415)
        return char16_t(code + 0x9BEA);
    return char16_t(code - 0x80);
}

namespace {

struct Packet {
    uint8_t command;
    int program;
    int offset;
    QByteArray payload;
};

// The page's packets, built exactly as a send builds them.
QList<Packet> packetsOf(TLCMPanel& screen, int index, bool* ok)
{
    QByteArray records;
    QBuffer file(&records);
    file.open(QIODevice::WriteOnly);
    // Rendering leaves the page's slot as the last send gave it.
    TLCMSendMsg* page = screen.units->GetPage(index);
    const int32_t firstSlot = page->firstSlot;
    const uint16_t program = page->U16(Rec::ProgramNumber);
    ExportTransport line(file);
    {
        LentTransport lend(screen, line);
        *ok = screen.SendPage(index, 1);
    }
    page->firstSlot = firstSlot;
    page->SetU16(Rec::ProgramNumber, program);
    QList<Packet> out;
    for (qsizetype at = 0; at + kExportRecordSize <= records.size(); at += kExportRecordSize) {
        const auto* p = reinterpret_cast<const uint8_t*>(records.constData() + at);
        const int length = GetU16LE(p + 1);
        const uint8_t command = p[13];
        out.append({command, GetU16LE(p + 16), command == CmdContinuation ? GetU16LE(p + 18) : 0,
                    QByteArray(reinterpret_cast<const char*>(p + kPayloadOffset), length - kFrameOverhead)});
    }
    return out;
}

QString textOfCodes(const QByteArray& payload)
{
    QString text;
    for (qsizetype i = 0; i + 1 < payload.size(); i += 2)
        text.append(QChar(CharacterOfCode(uint16_t(uint8_t(payload[i]) | uint8_t(payload[i + 1]) << 8))));
    return text;
}

} // namespace

RenderedPage RenderPageAsSent(TLCMPanel& screen, int index)
{
    RenderedPage out;
    TLCMSendMsg* page = screen.units->GetPage(index);
    if (!page) {
        out.note = QStringLiteral("there is no page %1").arg(index + 1);
        return out;
    }
    const auto area = PageArea(screen, *page);
    if (!area) {
        out.note = QStringLiteral("the page's partition has no area on this screen");
        return out;
    }
    if (page->kind == KindRtf && !LayOutRichText(static_cast<TLCMRtf&>(*page), screen, &out.note))
        return out;
    if (const QString why = PageRefusal(*page); !why.isEmpty()) {
        out.note = QStringLiteral("the page cannot be sent: ") + why;
        return out;
    }
    out.warnings = PageWarnings(screen, *page);

    bool sent = false;
    const QList<Packet> packets = packetsOf(screen, index, &sent);
    if (!sent) {
        out.note = QStringLiteral("the card cannot be sent this kind of page");
        return out;
    }
    const uint8_t display = page->GetDisplayType();
    const QSize size(area->Width(), area->Height());
    const int colourCode = page->U8(Rec::Colour);
    if (display == DisplayLedPages || display == DisplayPicture) {
        // Assembled by program slot and offset, as the card assembles them.
        std::map<int, QByteArray> slots;
        for (const Packet& p : packets) {
            QByteArray& data = slots[p.program];
            if (data.size() < p.offset + p.payload.size())
                data.resize(p.offset + p.payload.size(), '\0');
            data.replace(p.offset, p.payload.size(), p.payload);
        }
        for (const auto& [program, data] : slots)
            out.images.append(PlanesToImage(data, size.width(), size.height(), screen.ColourType()));
        if (out.images.isEmpty())
            out.note = QStringLiteral("the page has nothing to send");
    } else if (display == DisplayDial) {
        out.note = QStringLiteral("the card draws an analogue dial for this page");
    } else {
        QString text;
        switch (page->kind) {
        case KindTimer: text = ExpandClockTemplate(static_cast<TTemplatePage*>(page)->displayTemplate); break;
        case KindTemperature:
            text = ExpandTemperatureTemplate(static_cast<TTemplatePage*>(page)->displayTemplate);
            break;
        case KindConter: {
            auto* c = static_cast<TLCMConter*>(page);
            text = ExpandCountdownTemplate(c->displayTemplate, c->digitCount, c->targetDate);
            break;
        }
        default: text = packets.isEmpty() ? QString() : textOfCodes(packets.first().payload); break;
        }
        const QImage all = RenderPreviewText(text, size, colourCode);
        for (int y = 0; y + size.height() <= all.height(); y += size.height())
            out.images.append(all.copy(0, y, size.width(), size.height()));
        out.note = QStringLiteral("the card draws this page in its own font; this is the layout it uses");
    }
    out.ok = !out.images.isEmpty();
    return out;
}

} // namespace mx

#include "model/text.h"

#include <algorithm>

namespace mx {

uint16_t ControllerCode(char16_t u)
{
    if (u <= 0x00FF)
        return u;
    if (u >= 0x2000 && u <= 0x266F)
        return uint16_t(u - 0x1F00);
    if (u >= 0x3000 && u <= 0x33FF)
        return uint16_t(u - 0x2890);
    if (u >= 0x4E00 && u <= 0x9FA5)
        return uint16_t(u - 0x4290);
    if (u >= 0xF900)
        return uint16_t(u - 0x9BEA);
    return uint16_t(u + 0x80);
}

int EncodeText(QStringView text, uint8_t* out, int capacity)
{
    int written = 0;
    for (QChar c : text) {
        if (c.unicode() == 0 || written + 2 > capacity)
            break;
        PutU16LE(out + written, ControllerCode(c.unicode()));
        written += 2;
    }
    return written;
}

QString ShortName(const QString& text) { return text.left(6); }

TLCMText::TLCMText()
{
    kind = KindText;
    lines << QStringLiteral("文本");
    SetU8(Rec::DisplayType, DisplayText);
}

QString TLCMText::GetName() const
{
    return lines.isEmpty() ? QStringLiteral("文本") : ShortName(lines.first());
}

void TLCMText::Prepare()
{
    payloadSize = 0;
    blockIndex = 0;
    truncated = false;
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        const int room = kTextBufferSize - payloadSize;
        const int n = EncodeText(line, codes_.data() + payloadSize, room);
        // A NUL inside a line ends that line on purpose; only running out of room is a cut.
        const qsizetype units = std::min<qsizetype>(line.size(), line.indexOf(QChar(0)) < 0 ? line.size() : line.indexOf(QChar(0)));
        if (n < units * 2)
            truncated = true;
        payloadSize += n;
    }
    SetU8(Rec::DisplayType, DisplayText);
    SetU8(Rec::LastPageIndex, 0);
    SetU16(Rec::PayloadLength, uint16_t(payloadSize));
}

void TLCMText::FillPayload()
{
    SetPayloadLength(0);
    if (blockIndex >= GetBlockCount())
        return;
    SetPayload(codes_.data(), std::min(payloadSize, kBlockSize));
}

int TLCMText::GetBlockCount() { return 1; }
int TLCMText::GetSlotCount() { return 1; }

} // namespace mx

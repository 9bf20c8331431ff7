#include "model/rtfpage.h"

#include "model/text.h"

#include <algorithm>

namespace mx {

QByteArray DefaultRtfDocument()
{
    QByteArray doc;
    doc += "{\\rtf1\\ansi\\ansicpg936\\deff0{\\fonttbl{\\f0\\fnil\\fprq2\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}"
           "{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\r\n";
    doc += "{\\colortbl ;\\red255\\green0\\blue0;}\r\n";
    doc += "\\viewkind4\\uc1\\pard\\cf1\\lang1033\\kerning2\\f0\\fs21\\'bb\\'b6\\'d3\\'ad\\'c4\\'fa\\'a3\\'a1"
           "\\lang2052\\kerning0\\f1\\fs20\\par\r\n";
    doc += "}\r\n";
    doc.append('\0');
    return doc;
}

TLCMRtf::TLCMRtf()
{
    kind = KindRtf;
    name = QStringLiteral("超文本");
    SetU8(Rec::DisplayType, DisplayLedPages);
    document_ = DefaultRtfDocument();
    name = QStringLiteral("欢迎你!");
}

QString TLCMRtf::GetName() const
{
    return name.isEmpty() ? QStringLiteral("超文本") : name;
}

void TLCMRtf::SetNameFromText(const QString& text) { name = ShortName(text); }

const QByteArray* TLCMRtf::GetLedPage(int index) const
{
    return index >= 0 && index < ledPages_.size() ? &ledPages_[index] : nullptr;
}

void TLCMRtf::Reset()
{
    ledPageCount = 1;
    document_.clear();
    ClearLedPages();
}

void TLCMRtf::Prepare() {}

int TLCMRtf::BlocksPerLedPage() const
{
    if (ledPages_.isEmpty())
        return 0;
    return std::max<int>(1, int((ledPages_.first().size() + kBlockSize - 1) / kBlockSize));
}

int TLCMRtf::GetSlotCount()
{
    const int n = std::min(LedPageEntries(), kMaxRtfSlots);
    if (n > 0)
        ledPageCount = n;
    if (firstSlot + ledPageCount > kProgramSlots)
        ledPageCount = std::max(0, kProgramSlots - firstSlot);
    return ledPageCount;
}

int TLCMRtf::GetBlockCount()
{
    if (ledPages_.isEmpty())
        return 0;
    return GetSlotCount() * BlocksPerLedPage();
}

void TLCMRtf::FillPayload()
{
    SetPayloadLength(0);
    if (ledPages_.isEmpty())
        return;
    const int b = BlocksPerLedPage();
    const int i = blockIndex / b;
    const int j = blockIndex % b;
    if (i < 0 || i >= ledPages_.size())
        return;
    SetU8(Rec::PageIndex, uint8_t(i));
    SetU8(Rec::LastPageIndex, uint8_t(std::max(0, GetSlotCount() - 1)));
    const QByteArray& page = ledPages_[i];
    FillBlockFrom(reinterpret_cast<const uint8_t*>(page.constData()), int(page.size()), j * kBlockSize);
}

void TLCMRtf::BuildPacket()
{
    const uint16_t program = U16(Rec::ProgramNumber);
    int j = blockIndex;
    if (!ledPages_.isEmpty()) {
        const int b = BlocksPerLedPage();
        SetU16(Rec::ProgramNumber, uint16_t(program + blockIndex / b));
        j = blockIndex % b;
    }
    if (j > 0)
        BuildContinuation(uint16_t(j * kBlockSize));
    else
        TLCMSendMsg::BuildPacket();
    SetU16(Rec::ProgramNumber, program);
}

} // namespace mx

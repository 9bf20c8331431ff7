// The project file's records: every model class writes its record and reads it back in the
// same order. Reading checks every tag, read, count and length, and stops at the first fault.
#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "codec/picture_io.h"
#include "codec/limits.h"
#include "codec/record_stream.h"

#include <algorithm>


namespace mx {

namespace {
const char kTagPanel[] = "LCM PANEL";
const char kTagPartition[] = "LCM PARTI";
const char kTagText[] = "LCM TEXT";
const char kTagRtf[] = "LCM RTF ";
const char kTagImage[] = "LCM IMAGE";
const char kTagTimer[] = "LCM TIMER";
const char kTagTemperature[] = "LCM TEMP ";
const char kTagCounter[] = "LCM COUNTER";
const char kTagTimerEx[] = "LCM TEXTEX";
constexpr int kTimerExTagWidth = 18;
constexpr int kPageRecordSize = 56;
// The smallest page: a kind, a tag and the property record.
constexpr qsizetype kMinPageBytes = 2 + 16 + kPageRecordSize;
constexpr qsizetype kMinPanelBytes = 16 + 4 + 16 + 4 + 2 + 2 + 16 + 4 + 4 + 4;

} // namespace

// Page property record, the end of every page record.

void TLCMSendMsg::WriteToFile(RecordWriter& out) const
{
    out.Bytes(Record().data(), qsizetype(Record().size()));
}

bool TLCMSendMsg::ReadFromFile(RecordReader& in)
{
    PageRecord r;
    if (!in.Bytes(r.data(), qsizetype(r.size()), "page property record"))
        return false;
    Record() = r;
    return true;
}

// Pages

void TLCMText::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagText);
    out.TextList(lines);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMText::ReadFromFile(RecordReader& in)
{
    QStringList read;
    if (!in.Tag(kTagText) || !in.TextList(read, "text lines") || !TLCMSendMsg::ReadFromFile(in))
        return false;
    lines = read;
    return true;
}

void TLCMRtf::WriteToFile(RecordWriter& out) const
{
    if (document_.size() > 0xFFFF)
        out.Fail(QStringLiteral("the rich-text page \"%1\" holds a document of %2 bytes; a project file "
                                "can hold at most 65535")
                     .arg(GetName())
                     .arg(document_.size()));
    out.Tag(kTagRtf);
    out.U8(pagingDirection);
    out.I32(ledPageCount);
    out.U16(uint16_t(document_.size()));
    out.Bytes(document_.left(0xFFFF));
    out.Text(name);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMRtf::ReadFromFile(RecordReader& in)
{
    uint8_t direction = 0;
    int32_t count = 0;
    uint16_t length = 0;
    QByteArray doc;
    QString caption;
    if (!in.Tag(kTagRtf) || !in.U8(direction) || !in.I32(count) || !in.U16(length)
        || !in.Bytes(doc, length, "rich-text document") || !in.Text(caption, "rich-text caption")
        || !TLCMSendMsg::ReadFromFile(in))
        return false;
    pagingDirection = direction;
    ledPageCount = std::clamp(count, 1, kMaxRtfSlots); // a damaged count must not claim the program
    document_ = doc;
    name = caption;
    ClearLedPages();
    return true;
}

TLCMImage::Stored TLCMImage::StoredPicture() const
{
    if (!storedBmp_.isEmpty() || picture_.isNull())
        return {storedBmp_, storedWidth_, storedHeight_};
    return {EncodeBmp24(picture_), picture_.width(), picture_.height()};
}

void TLCMImage::SetStoredPicture(const QByteArray& bmp, int32_t width, int32_t height)
{
    // A stored picture that does not decode leaves the page without one to show; its bytes
    // are kept and saved back as they were.
    picture_ = bmp.isEmpty() ? QImage() : DecodeBmp(bmp, QStringLiteral("stored picture")).image;
    storedBmp_ = bmp;
    storedWidth_ = width;
    storedHeight_ = height;
}

void TLCMImage::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagImage);
    out.U8(reserved);
    out.I32(int32_t(displayData_.size()));
    out.Bytes(displayData_);
    const Stored pic = StoredPicture();
    out.I32(pic.width);
    out.I32(pic.height);
    out.I32(int32_t(pic.bmp.size()));
    out.Bytes(pic.bmp);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMImage::ReadFromFile(RecordReader& in)
{
    uint8_t res = 0;
    int32_t dataLength = 0, w = 0, h = 0, bmpLength = 0;
    QByteArray data, bmp;
    if (!in.Tag(kTagImage) || !in.U8(res) || !in.I32(dataLength)
        || !in.Count(dataLength, kMaxDisplayDataBytes, 1, "display data length")
        || !in.Bytes(data, dataLength, "display data") || !in.I32(w) || !in.I32(h) || !in.I32(bmpLength)
        || !in.Count(bmpLength, kMaxPictureBytes, 1, "picture length") || !in.Bytes(bmp, bmpLength, "picture")
        || !TLCMSendMsg::ReadFromFile(in))
        return false;
    reserved = res;
    SetDisplayData(data);
    SetStoredPicture(bmp, w, h);
    return true;
}

void TLCMTimer::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagTimer);
    out.Text(displayTemplate);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMTimer::ReadFromFile(RecordReader& in)
{
    QString t;
    if (!in.Tag(kTagTimer) || !in.Text(t, "clock template") || !TLCMSendMsg::ReadFromFile(in))
        return false;
    displayTemplate = t;
    return true;
}

void TLCMTemperature::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagTemperature);
    out.Text(displayTemplate);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMTemperature::ReadFromFile(RecordReader& in)
{
    QString t;
    if (!in.Tag(kTagTemperature) || !in.Text(t, "temperature template") || !TLCMSendMsg::ReadFromFile(in))
        return false;
    displayTemplate = t;
    return true;
}

void TLCMConter::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagCounter);
    out.Text(displayTemplate);
    out.I32(digitCount);
    out.F64(targetDate);
    TLCMSendMsg::WriteToFile(out);
}

bool TLCMConter::ReadFromFile(RecordReader& in)
{
    QString t;
    int32_t digits = 0;
    double target = 0;
    if (!in.Tag(kTagCounter) || !in.Text(t, "countdown template") || !in.I32(digits) || !in.F64(target)
        || !TLCMSendMsg::ReadFromFile(in))
        return false;
    displayTemplate = t;
    digitCount = digits;
    targetDate = target;
    return true;
}

void TTimerEx::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagTimerEx, kTimerExTagWidth);
    TLCMSendMsg::WriteToFile(out);
}

bool TTimerEx::ReadFromFile(RecordReader& in)
{
    return in.Tag(kTagTimerEx, kTimerExTagWidth) && TLCMSendMsg::ReadFromFile(in);
}

// Program list

void TLCMUnits::WriteToFile(RecordWriter& out) const
{
    out.I32(GetCount());
    for (const auto& page : pages_) {
        out.U16(page->kind);
        page->WriteToFile(out);
    }
}

bool TLCMUnits::ReadFromFile(RecordReader& in)
{
    int32_t count = 0;
    if (!in.I32(count) || !in.Count(count, kMaxPagesPerScreen, kMinPageBytes, "page count"))
        return false;
    std::vector<std::unique_ptr<TLCMSendMsg>> read;
    for (int32_t i = 0; i < count; ++i) {
        const qsizetype at = in.Offset();
        uint16_t kind = 0;
        if (!in.U16(kind))
            return false;
        auto page = CreatePage(kind);
        if (!page) {
            in.Fail(QStringLiteral("page %1 has the kind 0x%2, which names no page type")
                        .arg(i + 1)
                        .arg(kind, 4, 16, QChar(u'0')));
            return false;
        }
        if (!page->ReadFromFile(in))
            return in.Context(QStringLiteral("page %1 (kind 0x%2, from byte %3)")
                                  .arg(i + 1)
                                  .arg(kind, 4, 16, QChar(u'0'))
                                  .arg(at));
        read.push_back(std::move(page));
    }
    Clear();
    for (auto& page : read) {
        TLCMSendMsg* p = Adopt(std::move(page));
        p->firstSlot = NextFreeTag();
    }
    return true;
}

// Partition

void TLCMPartition::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagPartition);
    out.I32(type);
    out.I32(GetCount());
    for (const LcmRect& r : rects_) {
        out.I32(r.left);
        out.I32(r.top);
        out.I32(r.right);
        out.I32(r.bottom);
    }
}

bool TLCMPartition::ReadFromFile(RecordReader& in)
{
    int32_t t = 0, count = 0;
    if (!in.Tag(kTagPartition) || !in.I32(t) || !in.I32(count)
        || !in.Count(count, kMaxPartitionRects, 16, "rectangle count"))
        return false;
    std::vector<LcmRect> read;
    for (int32_t i = 0; i < count; ++i) {
        LcmRect r;
        if (!in.I32(r.left) || !in.I32(r.top) || !in.I32(r.right) || !in.I32(r.bottom))
            return false;
        read.push_back(r);
    }
    type = int8_t(uint8_t(t));
    rects_ = read;
    return true;
}

// Screen

void TLCMPanel::WriteToFile(RecordWriter& out) const
{
    out.Tag(kTagPanel);
    out.I32(SerialPortNumber());
    out.Bytes(params.data(), qsizetype(params.size()));
    out.U16(address);
    out.U16(0);
    out.Text(versionText);
    out.Text(name);
    partition->WriteToFile(out);
    units->WriteToFile(out);
}

bool TLCMPanel::ReadFromFile(RecordReader& in)
{
    int32_t portNumber = 0;
    ParamRecord p{};
    uint16_t addr = 0, padding = 0;
    QString version, screenName;
    if (!in.Tag(kTagPanel) || !in.I32(portNumber) || !in.Bytes(p.data(), qsizetype(p.size()), "screen parameters")
        || !in.U16(addr) || !in.U16(padding) || !in.Text(version, "version text") || !in.Text(screenName, "screen name")
        || !partition->ReadFromFile(in) || !units->ReadFromFile(in))
        return false;
    SetSerialPortNumber(portNumber);
    params = p;
    address = addr;
    versionText = QStringLiteral("Unkown"); // the version belongs to the card, not the file
    name = screenName;
    if (partition->GetCount() == 0)
        partition->AddRect({0, 0, Width(), Height()}); // every page needs an area to play in
    return true;
}

// Project

void TLCMPanels::WriteToFile(RecordWriter& out) const
{
    if (Count() > 0xFFFF)
        out.Fail(QStringLiteral("a project of %1 screens is more than a project file can hold").arg(Count()));
    out.U16(uint16_t(Count()));
    for (const auto& panel : panels_)
        panel->WriteToFile(out);
}

bool TLCMPanels::ReadFromFile(RecordReader& in)
{
    uint16_t count = 0;
    if (!in.U16(count) || !in.Count(count, kMaxScreens, kMinPanelBytes, "screen count"))
        return false;
    TLCMPanels read;
    read.serialPortNumber = serialPortNumber;
    for (int i = 0; i < count; ++i) {
        const qsizetype at = in.Offset();
        if (!read.AddPanel()->ReadFromFile(in))
            return in.Context(QStringLiteral("screen %1 (from byte %2)").arg(i + 1).arg(at));
    }
    if (!in.AtEnd())
        return in.Fail(QStringLiteral("%1 bytes follow the last screen").arg(in.Remaining()));
    TakeFrom(read);
    return true;
}

} // namespace mx

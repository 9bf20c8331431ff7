#include "model/templates.h"

#include "link/engine_env.h"
#include "model/text.h"

#include <algorithm>

namespace mx {

QStringList ClockTemplates()
{
    return {QStringLiteral("20{N}-{Y}-{R} {S}:{F}:{M}"),
            QStringLiteral("20{N}-{Y}-{R} {S}:{F}:{M} 星期{W}"),
            QStringLiteral("今天是20{N}年{Y}月{R}日 星期{W}，现在时间{S}时{F}分{M}秒。")};
}

QStringList TemperatureTemplates()
{
    return {QStringLiteral("温度{W}℃湿度{S}%"), QStringLiteral("当前温度：{W}℃"),
            QStringLiteral("相对湿度：{S}%")};
}

QList<uint16_t> ExpandTemplate(const QString& text,
                               const std::function<QList<uint16_t>(char16_t)>& codes, bool* cut)
{
    constexpr int kMax = kTemplateBufferUnits - 1;
    QList<uint16_t> out;
    bool wasCut = false;
    const qsizetype nul = text.indexOf(QChar(0));
    const qsizetype end = nul < 0 ? text.size() : nul;
    for (qsizetype i = 0; i < end;) {
        QList<uint16_t> piece;
        if (text[i] == u'{' && i + 2 < end && text[i + 2] == u'}')
            piece = codes(text[i + 1].unicode());
        qsizetype step = 3;
        if (piece.isEmpty()) {
            piece = {text[i].unicode()};
            step = 1;
        }
        for (uint16_t c : piece) {
            if (out.size() >= kMax) {
                wasCut = true;
                break;
            }
            out.append(c);
        }
        if (wasCut)
            break;
        i += step;
    }
    if (cut)
        *cut = wasCut;
    return out;
}

void TTemplatePage::PrepareCommon(uint8_t displayType)
{
    payloadSize = 0;
    blockIndex = 0;
    SetU8(Rec::LastPageIndex, 0);
    SetU16(Rec::PayloadLength, 0);
    SetU8(Rec::DisplayType, displayType);
}

void TTemplatePage::FillPayload()
{
    SetPayloadLength(0);
    if (blockIndex >= GetBlockCount())
        return;
    const QList<uint16_t> units =
        ExpandTemplate(displayTemplate, [this](char16_t l) { return FieldCodes(l); }, &truncated);
    QString expanded;
    for (uint16_t u : units)
        expanded.append(QChar(u));
    // Field codes are below 0x80 and pass the mapping unchanged. A NUL in the expansion
    // would end the text, as the work buffer's terminator does.
    const int n = EncodeText(expanded, Payload(), kPayloadBufferSize);
    SetPayloadLength(n);
    SetU16(Rec::PayloadLength, uint16_t(n));
}

int TTemplatePage::GetBlockCount() { return 1; }
int TTemplatePage::GetSlotCount() { return 1; }

// Clock

TLCMTimer::TLCMTimer()
{
    kind = KindTimer;
    displayTemplate = ClockTemplates().first();
    SetU8(Rec::DisplayType, DisplayClock);
}

QString TLCMTimer::GetName() const { return QStringLiteral("Timer"); }

void TLCMTimer::Prepare() { PrepareCommon(IsDialMode() ? DisplayDial : DisplayClock); }

void TLCMTimer::FillPayload()
{
    if (IsDialMode()) {
        SetPayloadLength(0);
        return;
    }
    TTemplatePage::FillPayload();
}

QList<uint16_t> TLCMTimer::FieldCodes(char16_t letter) const
{
    switch (letter) {
    case u'N': return {0x0B, 0x0C};
    case u'Y': return {0x0D, 0x0E};
    case u'R': return {0x0F, 0x10};
    case u'S': return {0x11, 0x12};
    case u'F': return {0x13, 0x14};
    case u'M': return {0x17, 0x18};
    case u'W': return {0x15};
    default: return {};
    }
}

// Temperature and humidity

TLCMTemperature::TLCMTemperature()
{
    kind = KindTemperature;
    displayTemplate = TemperatureTemplates().first();
    SetU8(Rec::DisplayType, DisplayTemperature);
}

QString TLCMTemperature::GetName() const { return QStringLiteral("Temperature"); }
void TLCMTemperature::Prepare() { PrepareCommon(DisplayTemperature); }

QList<uint16_t> TLCMTemperature::FieldCodes(char16_t letter) const
{
    switch (letter) {
    case u'W': return {0x01, 0x02, 0x03};
    case u'S': return {0x04, 0x05};
    default: return {};
    }
}

// Countdown

TLCMConter::TLCMConter()
{
    kind = KindConter;
    displayTemplate = QStringLiteral("离  还有{C} 天。");
    targetDate = double(QDate(1899, 12, 30).daysTo(Now().date()));
    SetU8(Rec::DisplayType, DisplayCountdown);
}

QString TLCMConter::GetName() const { return QStringLiteral("COUNTER"); }
void TLCMConter::Prepare() { PrepareCommon(DisplayCountdown); }

QList<uint16_t> TLCMConter::FieldCodes(char16_t letter) const
{
    if (letter != u'C')
        return {};
    static const QList<uint16_t> all = {0x1C, 0x1D, 0x1E, 0x1F};
    const int d = std::clamp(int(digitCount), 1, 4);
    return all.mid(4 - d);
}

void TLCMConter::BuildPacket()
{
    BuildHeader();
    // The card counts the days itself: it gets the target as plain bytes, not the schedule.
    const QDate target = LcmDate(targetDate);
    if (target.isValid()) {
        Packet()[27] = uint8_t(((target.year() % 100) + 100) % 100);
        Packet()[31] = uint8_t(target.month());
        Packet()[35] = uint8_t(target.day());
    }
    FillHeader(false);
    CopyPayload();
    FinishPacket();
}

// Extended timer dial

TTimerEx::TTimerEx()
{
    kind = KindTimerEx;
    SetU8(Rec::Effect, 0);
    SetU8(Rec::DisplayType, DisplayDial);
}

QString TTimerEx::GetName() const { return QStringLiteral("表盘"); }
int TTimerEx::GetBlockCount() { return 1; }
int TTimerEx::GetSlotCount() { return 1; }

void TTimerEx::Prepare()
{
    payloadSize = 0;
    blockIndex = 0;
    SetU8(Rec::LastPageIndex, 0);
    SetU16(Rec::PayloadLength, 0);
    SetU8(Rec::DisplayType, DisplayDial);
}

} // namespace mx

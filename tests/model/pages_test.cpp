#include "link/engine_env.h"
#include "model/imagepage.h"
#include "render/picture_page.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mx;
using mxtest::Hex;

namespace {

std::vector<uint8_t> header(const TLCMUnit& u, int from, int n) { return mxtest::Bytes(u.Packet() + from, n); }

// Sends a page's blocks the way the screen does and keeps every packet.
std::vector<std::vector<uint8_t>> buildAll(TLCMSendMsg& page)
{
    std::vector<std::vector<uint8_t>> out;
    page.Prepare();
    for (int b = 0; b < page.GetBlockCount(); ++b) {
        page.blockIndex = b;
        page.FillPayload();
        page.BuildPacket();
        out.push_back(mxtest::Bytes(page.PacketBytes()));
    }
    return out;
}

class PageTest : public ::testing::Test {
protected:
    mxtest::FixedClock clock{QDateTime(QDate(2025, 1, 5), QTime(8, 9, 10))};
};

TEST_F(PageTest, NewTextPageRecordAndPayload)
{
    TLCMText page;
    const PageRecord& r = page.Record();
    EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 8), Hex("01 00 01 00 0E 03 02 00"));
    EXPECT_EQ(r[40], 1);
    EXPECT_EQ(r[41], 0);
    EXPECT_EQ(r[48], 1);
    EXPECT_EQ(r[49], 1);
    for (int i = 42; i < 56; ++i)
        if (i != 48 && i != 49) {
            EXPECT_EQ(r[size_t(i)], 0) << "offset " << i;
        }
    EXPECT_EQ(LcmDate(page.F64(Rec::StartDate)), QDate(2025, 1, 5));
    EXPECT_EQ(LcmTime(page.F64(Rec::StartTime)), QTime(8, 9, 10));
    EXPECT_EQ(LcmDate(page.F64(Rec::StopDate)), QDate(2025, 1, 5));
    EXPECT_EQ(page.GetName(), QStringLiteral("文本"));

    page.Prepare();
    EXPECT_EQ(page.payloadSize, 4);
    EXPECT_EQ(mxtest::Bytes(page.Codes(), 4), Hex("F7 22 9C 24"));
    EXPECT_EQ(page.U16(Rec::PayloadLength), 4);
    page.FillPayload();
    page.BuildPacket();
    EXPECT_EQ(page.PacketLength(), 56);
    EXPECT_EQ(header(page, 48, 4), Hex("F7 22 9C 24"));
    EXPECT_EQ(header(page, 44, 2), Hex("04 00"));
}

TEST(EncodeText, ControllerCodes)
{
    struct Case { char16_t unit; const char* bytes; };
    for (auto c : {Case{0xFF0C, "22 63"}, Case{0x3002, "72 07"}, Case{0x2103, "03 02"}, Case{0x00E9, "E9 00"},
                   Case{0x20AC, "AC 01"}, Case{0x0400, "80 04"}, Case{0x0001, "01 00"}, Case{0x4E00, "70 0B"},
                   Case{0x9FA5, "15 5D"}, Case{0x9FA6, "26 A0"}, Case{0xFFFF, "15 64"}}) {
        uint8_t out[2];
        ASSERT_EQ(EncodeText(QStringView(&c.unit, 1), out, 2), 2);
        EXPECT_EQ(mxtest::Bytes(out, 2), Hex(c.bytes)) << std::hex << int(c.unit);
    }
}

TEST(EncodeText, StopsAtNulAndAtCapacity)
{
    uint8_t out[8] = {};
    const QString withNul = QStringLiteral("AB") + QChar(0) + QStringLiteral("C");
    EXPECT_EQ(EncodeText(withNul, out, 8), 4);
    EXPECT_EQ(EncodeText(QStringLiteral("ABCDEFG"), out, 7), 6);
}

TEST_F(PageTest, TextLinesJoinWithoutSeparator)
{
    struct Case { QStringList lines; const char* payload; };
    for (const auto& c : {Case{{"AB", "", "C"}, "41 00 42 00 43 00"}, Case{{}, ""}, Case{{"", ""}, ""}}) {
        TLCMText page;
        page.lines = c.lines;
        const auto packets = buildAll(page);
        ASSERT_EQ(packets.size(), 1u) << "an empty text still sends one packet";
        const auto want = Hex(c.payload);
        EXPECT_EQ(page.payloadSize, int(want.size()));
        EXPECT_EQ(std::vector<uint8_t>(packets[0].begin() + 48, packets[0].end() - 4), want);
    }
}

TEST_F(PageTest, OverlongTextIsCutAtTheCodeBuffer)
{
    TLCMText page;
    page.lines = {QString(300, u'A'), QString(300, u'B')};
    page.Prepare();
    EXPECT_EQ(page.payloadSize, 1024);
    EXPECT_TRUE(page.truncated);
    EXPECT_EQ(page.Codes()[1022], 'B');
    page.FillPayload();
    EXPECT_EQ(page.PayloadLength(), 1024);

    page.lines = {QString(512, u'x')};
    page.Prepare();
    EXPECT_EQ(page.payloadSize, 1024);
    EXPECT_FALSE(page.truncated);
}

TEST_F(PageTest, TextNames)
{
    struct Case { QStringList lines; QString name; };
    for (const auto& c : {Case{{"1234567"}, "123456"}, Case{{"123456"}, "123456"}, Case{{""}, ""},
                          Case{{}, QStringLiteral("文本")}}) {
        TLCMText page;
        page.lines = c.lines;
        EXPECT_EQ(page.GetName(), c.name);
    }
}

TEST_F(PageTest, HeaderScheduleAndPartitionByte)
{
    TLCMText page;
    page.Prepare();
    page.FillPayload();
    page.BuildPacket();
    EXPECT_EQ(header(page, 24, 16), std::vector<uint8_t>(16, 0)) << "all dates and times send zeros";
    EXPECT_EQ(page.Packet()[46], 0x01) << "no partition plays in partition 1";
    EXPECT_EQ(page.Record()[46], 0x00) << "the record is not changed";

    page.SetU8(Rec::AllDates, 0);
    page.SetU8(Rec::AllTimes, 0);
    page.SetF64(Rec::StartDate, ToLcmDateTime(QDateTime(QDate(2024, 3, 5), QTime(0, 0))));
    page.SetF64(Rec::StartTime, ToLcmDateTime(QDateTime(QDate(1899, 12, 30), QTime(10, 7, 9))));
    page.SetPartition(2);
    page.SetU8(Rec::PartitionClear, page.U8(Rec::PartitionClear) | kClearPanelBit);
    page.SetU8(Rec::Effect, 7);
    page.SetBorder(5);
    page.SetU8(Rec::BorderFlash, page.U8(Rec::BorderFlash) | 0x02);
    page.BuildPacket();
    EXPECT_EQ(header(page, 24, 8), Hex("05 03 24 00 09 07 10 00"));
    EXPECT_EQ(header(page, 32, 8), Hex("05 01 25 00 10 09 08 00")) << "stop date and time: today, now";
    EXPECT_EQ(page.Packet()[46], 0x82);
    EXPECT_EQ(header(page, 16, 8), Hex("01 00 07 52 0E 03 02 00"));
    EXPECT_EQ(page.GetPartition(), 2);
    EXPECT_EQ(page.GetBorder(), 5);
}

TEST(BlockModel, BlockCountRoundsUp)
{
    struct Case { int size, blocks; };
    for (auto c : {Case{0, 0}, Case{1, 1}, Case{1024, 1}, Case{1025, 2}, Case{3000, 3}}) {
        TLCMSendMsg msg;
        msg.payloadSize = c.size;
        EXPECT_EQ(msg.GetBlockCount(), c.blocks) << c.size;
    }
}

TEST_F(PageTest, ClockTemperatureCountdownExpansions)
{
    struct Case { std::function<std::unique_ptr<TLCMSendMsg>()> make; const char* codes; uint8_t display; };
    auto countdown = [](int digits) {
        return [digits] {
            auto p = std::make_unique<TLCMConter>();
            p->digitCount = digits;
            return std::unique_ptr<TLCMSendMsg>(std::move(p));
        };
    };
    const std::vector<Case> cases = {
        {[] { return std::make_unique<TLCMTimer>(); },
         "0032 0030 000B 000C 002D 000D 000E 002D 000F 0010 0020 0011 0012 003A 0013 0014 003A 0017 0018", 5},
        {[] { return std::make_unique<TLCMTemperature>(); },
         "2B99 1C16 0001 0002 0003 0203 2BEF 1C16 0004 0005 0025", 4},
        {countdown(3), "372B 0020 0020 4D48 2479 001D 001E 001F 0020 1699 0772", 6},
        {countdown(5), "372B 0020 0020 4D48 2479 001C 001D 001E 001F 0020 1699 0772", 6},
        {countdown(2), "372B 0020 0020 4D48 2479 001E 001F 0020 1699 0772", 6},
        {countdown(0), "372B 0020 0020 4D48 2479 001F 0020 1699 0772", 6},
    };
    for (const auto& c : cases) {
        auto page = c.make();
        const auto packets = buildAll(*page);
        ASSERT_EQ(packets.size(), 1u);
        std::vector<uint8_t> want;
        for (const QString& code : QString::fromLatin1(c.codes).split(u' ')) {
            const uint16_t v = code.toUShort(nullptr, 16);
            want.push_back(uint8_t(v));
            want.push_back(uint8_t(v >> 8));
        }
        const auto& pkt = packets[0];
        EXPECT_EQ(std::vector<uint8_t>(pkt.begin() + 48, pkt.end() - 4), want) << c.codes;
        EXPECT_EQ(GetU16LE(&pkt[44]), want.size());
        EXPECT_EQ(page->U16(Rec::PayloadLength), want.size());
        EXPECT_EQ(pkt[41], c.display);
    }
}

TEST_F(PageTest, PlaceholdersBelongToTheirPage)
{
    struct Case { std::unique_ptr<TTemplatePage> page; QString tmpl; const char* codes; };
    std::vector<Case> cases;
    cases.push_back({std::make_unique<TLCMTemperature>(), "{N}", "007B 004E 007D"});
    cases.push_back({std::make_unique<TLCMTimer>(), "{C}{W}", "007B 0043 007D 0015"});
    cases.push_back({std::make_unique<TLCMTimer>(), "a{s}{", "0061 007B 0073 007D 007B"});
    cases.push_back({std::make_unique<TLCMTimer>(), "{S", "007B 0053"});
    for (auto& c : cases) {
        c.page->SetTemplate(c.tmpl);
        c.page->Prepare();
        c.page->FillPayload();
        std::vector<uint8_t> want;
        for (const QString& code : QString::fromLatin1(c.codes).split(u' ')) {
            const uint16_t v = code.toUShort(nullptr, 16);
            want.push_back(uint8_t(v));
            want.push_back(uint8_t(v >> 8));
        }
        EXPECT_EQ(mxtest::Bytes(c.page->Payload(), c.page->PayloadLength()), want) << c.tmpl.toStdString();
    }
}

TEST_F(PageTest, TemplateExpansionStopsAt255Units)
{
    TLCMConter page;
    page.digitCount = 4;
    QString tmpl;
    for (int i = 0; i < 64; ++i)
        tmpl += QStringLiteral("{C}"); // 64 x 4 = 256 units after expansion
    page.SetTemplate(tmpl);
    page.Prepare();
    page.FillPayload();
    EXPECT_EQ(page.PayloadLength(), 255 * 2);
    EXPECT_TRUE(page.truncated);

    page.SetTemplate(QString(300, u'x'));
    page.FillPayload();
    EXPECT_EQ(page.PayloadLength(), 255 * 2);
}

TEST_F(PageTest, CountdownHeaderCarriesTargetNotSchedule)
{
    TLCMConter page;
    page.targetDate = ToLcmDateTime(QDateTime(QDate(2025, 10, 1), QTime(0, 0)));
    page.SetU8(Rec::AllDates, 0);
    page.SetU8(Rec::AllTimes, 0);
    buildAll(page);
    const uint8_t* h = page.Packet();
    EXPECT_EQ(h[27], 0x19);
    EXPECT_EQ(h[31], 0x0A);
    EXPECT_EQ(h[35], 0x01);
    for (int i = 24; i < 40; ++i)
        if (i != 27 && i != 31 && i != 35) {
            EXPECT_EQ(h[i], 0) << "byte " << i;
        }
    EXPECT_EQ(h[41], 6);
}

TEST_F(PageTest, ClockDialModeAndExtendedTimerSendEmptyPayload)
{
    TLCMTimer clock;
    clock.SetDialMode(true);
    auto packets = buildAll(clock);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 52u);
    EXPECT_EQ(packets[0][41], 3);
    clock.SetDialMode(false);
    EXPECT_FALSE(clock.IsDialMode());

    TTimerEx ex;
    EXPECT_EQ(ex.U8(Rec::Effect), 0);
    packets = buildAll(ex);
    EXPECT_EQ(ex.GetDisplayType(), 3);
    EXPECT_EQ(ex.GetBlockCount(), 1);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 52u);
}

TEST_F(PageTest, PageNames)
{
    EXPECT_EQ(TLCMTimer().GetName(), "Timer");
    EXPECT_EQ(TLCMTemperature().GetName(), "Temperature");
    EXPECT_EQ(TLCMConter().GetName(), "COUNTER");
    EXPECT_EQ(TTimerEx().GetName(), QStringLiteral("表盘"));
    EXPECT_EQ(TLCMImage().GetName(), QStringLiteral("图片"));
    EXPECT_EQ(TLCMSendMsg().GetName(), "TLCMSendMsg");
    EXPECT_EQ(TLCMUnit().GetName(), "TLCMUnit");
    EXPECT_EQ(TLCMObject().GetName(), "TLCMObject");
}

TEST_F(PageTest, ContinuationBlockOfAnImage)
{
    // 128 x 64 on a full-colour screen: 3072 bytes in three blocks.
    TLCMImage page;
    ClearPicture(page, {16, 8, 3}, 128, 64);
    EXPECT_EQ(page.DisplayData().size(), 3072);
    const auto packets = buildAll(page);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0][13], 0x03);
    EXPECT_EQ(packets[0][18], 1) << "first block carries the effect";
    for (int b : {1, 2}) {
        EXPECT_EQ(packets[size_t(b)][13], 0x02);
        EXPECT_EQ(packets[size_t(b)][15], 0x01);
        EXPECT_EQ(GetU16LE(&packets[size_t(b)][18]), b * 1024);
        EXPECT_EQ(packets[size_t(b)].size(), 52u + 1024);
    }
    EXPECT_EQ(page.commandCode, 0x03);
    EXPECT_EQ(page.U8(Rec::Continuation), 0);
    EXPECT_EQ(page.U16(Rec::ContinuationOffset), 0);
    EXPECT_EQ(page.U8(Rec::Effect), 1);
}

TEST_F(PageTest, NewImageIsBlackAndOneBlock)
{
    TLCMImage page;
    ClearPicture(page, {8, 4, 1}, 64, 32);
    EXPECT_EQ(page.Picture().size(), QSize(64, 32));
    EXPECT_EQ(page.DisplayData(), QByteArray(256, '\0'));
    EXPECT_EQ(page.GetBlockCount(), 1);
}

// Five LED pages of 64 x 16 single colour, 128 bytes each, one block each.
TEST_F(PageTest, RichTextPagesGoToConsecutiveSlots)
{
    TLCMRtf page;
    EXPECT_EQ(page.GetName(), QStringLiteral("欢迎你!"));
    EXPECT_EQ(page.Document().size(), 279);
    EXPECT_EQ(page.Document().back(), '\0');
    EXPECT_EQ(page.GetBlockCount(), 0);
    EXPECT_EQ(page.GetSlotCount(), 1);

    for (int i = 0; i < 5; ++i)
        page.AddLedPage(QByteArray(128, char(i + 1)));
    page.firstSlot = 1;
    page.SetU16(Rec::ProgramNumber, 1);
    EXPECT_EQ(page.GetSlotCount(), 5);
    const auto packets = buildAll(page);
    ASSERT_EQ(packets.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const auto& p = packets[size_t(i)];
        EXPECT_EQ(GetU16LE(&p[16]), i + 1);
        EXPECT_EQ(p[13], 0x03);
        EXPECT_EQ(p[42], i);
        EXPECT_EQ(p[43], 4);
        EXPECT_EQ(p[41], 1);
        EXPECT_EQ(p[48], i + 1);
        EXPECT_EQ(GetU16LE(&p[44]), 0);
    }
    EXPECT_EQ(page.U16(Rec::ProgramNumber), 1);
}

TEST_F(PageTest, RichTextMultiBlockLedPages)
{
    TLCMRtf page; // 256 x 64 full colour: 6144 bytes, six blocks each
    for (int i = 0; i < 2; ++i)
        page.AddLedPage(QByteArray(6144, char(0x10 + i)));
    page.firstSlot = 3;
    page.SetU16(Rec::ProgramNumber, 3);
    const auto packets = buildAll(page);
    ASSERT_EQ(packets.size(), 12u);
    const auto& b7 = packets[7];
    EXPECT_EQ(GetU16LE(&b7[16]), 4);
    EXPECT_EQ(b7[13], 0x02);
    EXPECT_EQ(mxtest::Bytes(&b7[18], 2), Hex("00 04"));
    EXPECT_EQ(b7.size(), 52u + 1024);
    EXPECT_EQ(b7[48], 0x11);
}

TEST_F(PageTest, RichTextSlotLimits)
{
    struct Case { int entries, firstSlot, slotCount; };
    for (auto c : {Case{40, 0, 30}, Case{5, 78, 2}, Case{5, 80, 0}, Case{3, 0, 3}}) {
        TLCMRtf page;
        for (int i = 0; i < c.entries; ++i)
            page.AddLedPage(QByteArray(128, 'x'));
        page.firstSlot = c.firstSlot;
        EXPECT_EQ(page.GetSlotCount(), c.slotCount) << c.entries << "@" << c.firstSlot;
        EXPECT_EQ(page.ledPageCount, c.slotCount);
        EXPECT_EQ(page.GetBlockCount(), c.slotCount);
    }
}

TEST(RichTextName, FirstSixUnits)
{
    TLCMRtf page;
    page.SetNameFromText(QStringLiteral("0123456789"));
    EXPECT_EQ(page.GetName(), "012345");
    page.SetNameFromText(QStringLiteral("abc"));
    EXPECT_EQ(page.GetName(), "abc");
    page.SetNameFromText(QString());
    EXPECT_EQ(page.GetName(), QStringLiteral("超文本"));
}

} // namespace

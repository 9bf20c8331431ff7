// The card in-process: deframing, each command's state change and reply, the faults, the
// pictures and the output files.
#include "sim/sim_card.h"
#include "support/sim_line.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace mxtest;
using mx::sim::SimCard;

namespace {

bool ValidReply(const QByteArray& r)
{
    return r.size() == 52 && uint8_t(r[0]) == 0xAF && uint8_t(r[51]) == 0x5F &&
           mx::sim::Sum16(U8(r), 48) == uint16_t(uint8_t(r[48]) | uint8_t(r[49]) << 8);
}

QByteArray Data(const QByteArray& reply, int from, int n)
{
    return reply.mid(16 + from, n);
}

// ---- Deframer -----------------------------------------------------------------------------

TEST(Deframer, FindsPacketsInNoise)
{
    const QByteArray v = MakePacket(0x35);
    const QByteArray page = MakePacket(0x03, {1, 0}, QByteArray(300, '\xA0'));
    QByteArray badSum = v;
    badSum[48] = char(badSum[48] + 1);
    QByteArray badEnd = v;
    badEnd[51] = 0x51;
    const QByteArray shortLen = QByteArray::fromHex("A03300");   // 51 < 52
    const QByteArray longLen = QByteArray::fromHex("A00108");    // 2049 > 2048
    const QByteArray claimsMore = QByteArray::fromHex("A0F401");  // 500 bytes that never come

    const struct {
        const char* what;
        QByteArray stream;
        std::vector<uint8_t> commands;
        int64_t garbage;
    } cases[] = {
        {"clean", v, {0x35}, 0},
        {"leading noise", QByteArray::fromHex("0011AF5F50") + v, {0x35}, 5},
        {"bad checksum", badSum + v, {0x35}, 52},
        {"bad end byte", badEnd + v, {0x35}, 52},
        {"length too short", shortLen + v, {0x35}, 3},
        {"length too long", longLen + v, {0x35}, 3},
        {"start byte claiming more than comes", claimsMore + v, {0x35}, 3},
        {"back to back", v + page + v, {0x35, 0x03, 0x35}, 0},
        {"start bytes in payload", page, {0x03}, 0},
        {"trailing noise", v + QByteArray::fromHex("A0"), {0x35}, 0},
    };
    for (const auto& c : cases) {
        for (int step : {1, 7, 4096}) {   // fed byte by byte, in pieces, whole
            mx::sim::Deframer d;
            std::vector<uint8_t> got;
            for (int i = 0; i < c.stream.size(); i += step) {
                d.Feed(U8(c.stream) + i, std::min<int>(step, int(c.stream.size()) - i), i);
                while (auto p = d.Next())
                    got.push_back(p->Command());
            }
            int64_t skipped = 0;
            d.TakeSkipped(&skipped);
            EXPECT_EQ(got, c.commands) << c.what << " step " << step;
            if (step == 4096) {
                EXPECT_EQ(skipped, c.garbage) << c.what;
            }
            EXPECT_LE(d.Buffered(), 3) << c.what;
        }
    }
}

TEST(Deframer, RecordsWhenAPacketStarted)
{
    mx::sim::Deframer d;
    const QByteArray v = MakePacket(0x35);
    d.Feed(U8(v), 10, 1000);
    EXPECT_FALSE(d.Next());
    d.Feed(U8(v) + 10, 42, 5000);
    auto p = d.Next();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->firstByteUs, 1000);
    EXPECT_EQ(p->bytes, v);
}

// ---- Commands -----------------------------------------------------------------------------

class CardTest : public ::testing::Test {
protected:
    QByteArray Ask(uint8_t cmd, const std::vector<uint8_t>& params = {}, const QByteArray& payload = {})
    {
        auto r = card.Handle(MakePacket(cmd, params, payload));
        EXPECT_TRUE(r) << "no reply to " << int(cmd);
        if (r) {
            EXPECT_TRUE(ValidReply(*r)) << "reply to " << int(cmd);
        }
        return r.value_or(QByteArray());
    }
    SimCard card;
};

TEST_F(CardTest, RepliesCarryAddressStatusAndChecksum)
{
    card.SetVersion({0x10, 0x02, 0x01, 0x0A});
    auto r = card.Handle(MakePacket(0x35, {}, {}, 0x0102));
    ASSERT_TRUE(r);
    ASSERT_TRUE(ValidReply(*r));
    EXPECT_EQ(uint8_t((*r)[3]), 0x02);
    EXPECT_EQ(uint8_t((*r)[4]), 0x01);
    EXPECT_EQ(uint8_t((*r)[13]), 0x00);
    EXPECT_EQ(Data(*r, 0, 4), QByteArray::fromHex("1002010A"));
    EXPECT_FALSE(card.Handle(MakePacket(0x35).left(51))) << "not a packet";
    EXPECT_EQ(Ask(0x7E).mid(16, 32), QByteArray(32, '\0')) << "unknown commands get a plain OK";
}

TEST_F(CardTest, ParametersAreReadAndWritten)
{
    const std::array<uint8_t, 16> rec {0x10, 0x04, 0x03, 1, 0, 0xF1, 0x82, 1, 9, 10, 11, 12, 13, 14, 15, 16};
    card.SetParams(rec);
    const QByteArray r = Ask(0x24);
    EXPECT_EQ(Data(r, 0, 13), QByteArray(reinterpret_cast<const char*>(rec.data()), 13));
    EXPECT_EQ(Data(r, 13, 19), QByteArray(19, '\0')) << "bytes 13-15 of the record are not sent";

    const std::vector<uint8_t> written {0x20, 0x08, 0x01, 0, 1, 2, 0x40, 0, 5, 6, 7, 15, 3, 0, 0, 0};
    Ask(0x23, written);
    const auto st = card.State();
    EXPECT_TRUE(std::equal(written.begin(), written.end(), st.params.begin()));
    EXPECT_EQ(st.Width(), 256);
    EXPECT_EQ(st.Height(), 64);
}

TEST_F(CardTest, PartitionTableIsKeptAndAnswered)
{
    EXPECT_EQ(uint8_t(Ask(0x2A)[16]), 0xFF) << "none set";
    EXPECT_FALSE(card.State().PartitionsSet());
    std::vector<uint8_t> table {1, 0, 0, 8, 4, 0, 0, 0, 1, 8, 0, 8, 4, 0, 0, 0};
    Ask(0x29, table);
    const QByteArray r = Ask(0x2A);
    EXPECT_EQ(Data(r, 0, 16), QByteArray(reinterpret_cast<const char*>(table.data()), 16));
    EXPECT_TRUE(card.State().PartitionsSet());
    card.SetPartitionsNone();
    EXPECT_EQ(uint8_t(Ask(0x2A)[16]), 0xFF);
}

TEST_F(CardTest, BrightnessAndPowerSchedule)
{
    Ask(0x10, {9});
    EXPECT_EQ(card.State().brightness, 9);
    EXPECT_EQ(uint8_t(Ask(0x13)[16]), 9);

    Ask(0x26, {1, 0x07, 0x30, 0x22, 0x15});
    const QByteArray r = Ask(0x27);
    EXPECT_EQ(Data(r, 0, 6), QByteArray::fromHex("000107302215")) << "byte 16 unused, mode at 17";
    card.SetPowerSchedule(2, 6, 5, 23, 59);
    EXPECT_EQ(Data(Ask(0x27), 1, 5), QByteArray::fromHex("0206052359"));
}

TEST_F(CardTest, ClockIsSetAndTicks)
{
    Ask(0x21, {0x25, 0x01, 0x05, 0x08, 0x09, 0x10, 0x07, 0x01});
    auto st = card.State();
    EXPECT_EQ(st.clockRaw, (std::array<uint8_t, 8> {0x25, 0x01, 0x05, 0x08, 0x09, 0x10, 0x07, 0x01}));
    const QDateTime set(QDate(2025, 1, 5), QTime(8, 9, 10));
    EXPECT_GE(st.clock, set);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GE(set.msecsTo(card.State().clock), 50);
    EXPECT_LT(set.msecsTo(card.State().clock), 2000);

    // An impossible date leaves the running clock alone.
    Ask(0x21, {0x25, 0x13, 0x45, 0x08, 0x09, 0x10, 0x07, 0x01});
    EXPECT_LT(set.msecsTo(card.State().clock), 2000);
}

TEST_F(CardTest, PagesAreAssembledPerSlotByOffset)
{
    auto block = [](int n, char fill) { return QByteArray(n, fill); };
    // First block: program 2, display type 2, partition 1 with clear, effect 5.
    std::vector<uint8_t> head(32, 0);
    head[0] = 2;
    head[2] = 5;
    head[25] = 2;
    head[30] = 0x81;
    Ask(0x03, head, block(1024, 'a'));
    Ask(0x02, {2, 0, 0x00, 0x08}, block(512, 'c'));   // offset 2048 first
    Ask(0x02, {2, 0, 0x00, 0x04}, block(1024, 'b'));  // then 1024
    mx::sim::SlotData s = card.Slot(2);
    ASSERT_TRUE(s.used);
    EXPECT_EQ(s.data, block(1024, 'a') + block(1024, 'b') + block(512, 'c'));
    EXPECT_EQ(s.blocks, 3);
    EXPECT_EQ(s.DisplayType(), 2);
    EXPECT_EQ(s.header[2], 5) << "the header is the first block's";
    EXPECT_EQ(s.Partition(), 1);
    EXPECT_FALSE(card.Slot(1).used);

    // A new first block starts the slot afresh; other slots are untouched.
    Ask(0x03, {2, 0}, block(10, 'z'));
    EXPECT_EQ(card.Slot(2).data, block(10, 'z'));
    Ask(0x03, {80, 0}, block(4, 'e'));
    EXPECT_TRUE(card.Slot(80).used);
    // Programs outside 1...80 are answered but kept nowhere.
    for (int program : {0, 81, 0x0100}) {
        Ask(0x03, {uint8_t(program), uint8_t(program >> 8)}, block(4, 'x'));
        Ask(0x02, {uint8_t(program), uint8_t(program >> 8), 0, 4}, block(4, 'x'));
    }
    int used = 0;
    for (int n = 1; n <= 80; ++n)
        used += card.Slot(n).used;
    EXPECT_EQ(used, 2);
    EXPECT_FALSE(card.Slot(0).used);
    EXPECT_FALSE(card.Slot(81).used);
}

TEST_F(CardTest, ClearEmptiesTheSlotsAndMarkIsKept)
{
    Ask(0x03, {1, 0}, QByteArray(8, 'a'));
    Ask(0x19, {0});
    EXPECT_EQ(card.State().downloadMark, 0);
    Ask(0x06);
    EXPECT_FALSE(card.Slot(1).used);
    EXPECT_EQ(card.State().clears, 1);
    Ask(0x19, {1});
    EXPECT_EQ(card.State().downloadMark, 1);
}

// ---- Faults -------------------------------------------------------------------------------

TEST_F(CardTest, NoiseGoesBeforeRepliesAndNeverHoldsTheStartByte)
{
    card.SetNoise(200, 2);
    for (int i = 0; i < 3; ++i) {
        const QByteArray r = *card.Handle(MakePacket(0x35));
        const int noise = i < 2 ? 200 : 0;
        ASSERT_EQ(r.size(), 52 + noise);
        EXPECT_FALSE(r.left(noise).contains(char(0xAF)));
        EXPECT_TRUE(ValidReply(r.mid(noise)));
    }
}

TEST_F(CardTest, BadChecksumsAndBurstsSpoilTheNextReplies)
{
    card.SetBadChecksum(2);
    auto r1 = *card.Handle(MakePacket(0x10, {4}));
    auto r2 = *card.Handle(MakePacket(0x35));
    EXPECT_EQ(uint8_t(r1[0]), 0xAF);
    EXPECT_FALSE(ValidReply(r1));
    EXPECT_FALSE(ValidReply(r2));
    EXPECT_EQ(card.State().brightness, 4) << "the command itself was carried out";
    EXPECT_TRUE(ValidReply(*card.Handle(MakePacket(0x35))));

    card.SetNoAfBurst(1);
    auto burst = *card.Handle(MakePacket(0x35));
    EXPECT_EQ(burst.size(), 52);
    EXPECT_FALSE(burst.contains(char(0xAF)));
    EXPECT_TRUE(ValidReply(*card.Handle(MakePacket(0x35))));
    EXPECT_EQ(card.History()[3].fault, "no-af");
}

TEST_F(CardTest, SilentAndVersionOnlyCardsIgnoreCommands)
{
    card.SetSilent(0x10);
    EXPECT_FALSE(card.Handle(MakePacket(0x10, {3})));
    EXPECT_EQ(card.State().brightness, 15);
    EXPECT_TRUE(card.Handle(MakePacket(0x13)));
    card.SetSilent(0x10, false);
    EXPECT_TRUE(card.Handle(MakePacket(0x10, {3})));

    card.SetVersionOnly(true);
    EXPECT_TRUE(card.Handle(MakePacket(0x35)));
    for (uint8_t cmd : {0x24, 0x2A, 0x23, 0x03, 0x06})
        EXPECT_FALSE(card.Handle(MakePacket(cmd))) << int(cmd);
    EXPECT_EQ(card.State().params[0], 8);
    EXPECT_EQ(card.History().back().fault, "version-only");
    card.ClearFaults();
    EXPECT_TRUE(card.Handle(MakePacket(0x24)));
}

TEST_F(CardTest, RejectedParameterWritesAreNotStored)
{
    card.SetRejectParamWrite(true);
    const QByteArray r = Ask(0x23, {0x40, 0x40, 3});
    EXPECT_EQ(uint8_t(r[13]), 0x04);
    EXPECT_EQ(card.State().params[0], 8);
    EXPECT_EQ(uint8_t(Ask(0x35)[13]), 0x00) << "other commands are not rejected";
}

// ---- Pictures -----------------------------------------------------------------------------

TEST(BitPlanes, DecodeToLitChannels)
{
    // 16 x 2 dots, full colour: red row 0 = A1 00, green row 1 = 00 01, blue row 0 = 80 00.
    const QByteArray planes = QByteArray::fromHex("A100 0000" "0000 0001" "8000 0000");
    const QImage img = mx::sim::DecodeBitPlanes(planes, 16, 2, 3);
    ASSERT_EQ(img.size(), QSize(16, 2));
    EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(2, 0), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(7, 0), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(15, 1), qRgb(0, 255, 0));
    int lit = 0;
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 16; ++x)
            lit += img.pixel(x, y) != qRgb(0, 0, 0);
    EXPECT_EQ(lit, 4);

    // Single colour reads the red plane only; missing bytes are unlit.
    const QImage red = mx::sim::DecodeBitPlanes(planes, 16, 2, 1);
    EXPECT_EQ(red.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(red.pixel(15, 1), qRgb(0, 0, 0));
    const QImage shortData = mx::sim::DecodeBitPlanes(QByteArray::fromHex("FF"), 16, 2, 2);
    EXPECT_EQ(shortData.pixel(7, 0), qRgb(255, 0, 0));
    EXPECT_EQ(shortData.pixel(8, 0), qRgb(0, 0, 0));
    for (QSize bad : {QSize(0, 8), QSize(12, 8), QSize(16, -1), QSize(8192, 8)})
        EXPECT_TRUE(mx::sim::DecodeBitPlanes(planes, bad.width(), bad.height(), 1).isNull());
}

TEST(BitPlanes, SlotsPlayInTheirPartition)
{
    mx::sim::CardState st;
    st.params[0] = 16;   // 128 x 32
    st.params[1] = 4;
    mx::sim::SlotData slot;
    auto area = [&](int nibble) {
        slot.header[30] = uint8_t(nibble);
        const auto a = mx::sim::SlotArea(st, slot);
        return QRect(a.left, a.top, a.width, a.height);
    };
    EXPECT_EQ(area(2), QRect(0, 0, 128, 32)) << "no table set";
    const uint8_t table[] = {1, 0, 0, 8, 4, 0, 0, 0, 1, 8, 0, 8, 2, 0, 0, 0, 0};
    std::copy(std::begin(table), std::end(table), st.partitions.begin());
    EXPECT_EQ(area(0), QRect(0, 0, 64, 32));
    EXPECT_EQ(area(1), QRect(0, 0, 64, 32));
    EXPECT_EQ(area(0x82), QRect(64, 0, 64, 16));
    EXPECT_EQ(area(3), QRect(0, 0, 128, 32)) << "no such entry";
}

// ---- Output files ---------------------------------------------------------------------------

TEST(CardOutputs, LogStateAndPicturesAreWritten)
{
    QTemporaryDir dir;
    SimCard card;
    card.SetParams({2, 1, 2});   // 16 x 8, red and green
    ASSERT_TRUE(card.SetLogFile(dir.path() + "/log.jsonl"));
    ASSERT_TRUE(card.SetStateFile(dir.path() + "/state.json"));
    ASSERT_TRUE(card.SetRenderDir(dir.path() + "/png"));
    EXPECT_FALSE(card.SetRenderDir("/proc/no/such/place"));

    // A picture slot: red plane lights dot (0,0), green plane dot (15,7).
    QByteArray planes(32, '\0');
    planes[0] = char(0x80);
    planes[31] = 0x01;
    std::vector<uint8_t> head(32, 0);
    head[0] = 3;
    head[25] = 2;
    card.Handle(MakePacket(0x03, head, planes));
    card.Handle(MakePacket(0x03, {4, 0}, QByteArray("\x41\x00", 2)));   // a text slot
    card.Handle(MakePacket(0x10, {7}));
    card.Receive(U8(QByteArray("\x01\x02", 2)), 2, 0);
    ASSERT_TRUE(card.Flush());

    QFile state(dir.path() + "/state.json");
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(state.readAll()).object();
    EXPECT_EQ(o["brightness"].toInt(), 7);
    EXPECT_EQ(o["garbageBytes"].toInt(), 2);
    EXPECT_TRUE(o["downloadMark"].isNull());
    const QJsonArray slotsJson = o["slots"].toArray();
    ASSERT_EQ(slotsJson.size(), 2);
    EXPECT_EQ(slotsJson[0].toObject()["slot"].toInt(), 3);
    EXPECT_EQ(slotsJson[0].toObject()["dataLength"].toInt(), 32);

    const QImage png(dir.path() + "/png/slot-03.png");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(16, 8));
    EXPECT_EQ(png.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(png.pixel(15, 7), qRgb(0, 255, 0));
    EXPECT_FALSE(QFile::exists(dir.path() + "/png/slot-04.png")) << "text slots have no picture";
    EXPECT_EQ(card.RenderAll(dir.path() + "/again"), 1);

    QFile log(dir.path() + "/log.jsonl");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QStringList kinds;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject e = QJsonDocument::fromJson(line).object();
        ASSERT_FALSE(e.isEmpty()) << line.toStdString();
        kinds << e["dir"].toString() + ":" + e["cmd"].toString();
    }
    EXPECT_EQ(kinds, QStringList({"in:0x03", "out:0x03", "in:0x03", "out:0x03", "in:0x10", "out:0x10", "garbage:"}));

    card.Handle(MakePacket(0x06));
    ASSERT_TRUE(card.Flush());
    EXPECT_FALSE(QFile::exists(dir.path() + "/png/slot-03.png")) << "cleared slots lose their picture";
}

} // namespace

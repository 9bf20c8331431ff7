#include "link/engine_env.h"
#include "model/object.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mx;
using mxtest::Hex;

namespace {

std::vector<uint8_t> versionPacket(uint16_t address)
{
    TLCMUnit unit;
    unit.commandCode = 0x35;
    unit.address = address;
    unit.BuildHeader();
    unit.FinishPacket();
    return mxtest::Bytes(unit.PacketBytes());
}

TEST(PacketFrame, VersionCommandToAddresses)
{
    const std::vector<uint8_t> zeros(32, 0);
    struct Case { uint16_t address; const char* head; const char* tail; };
    for (const Case& c : {Case{1, "A0 34 00 01 00 00 00 00 00 00 00 00 00 35 35 34", "73 01 00 50"},
                          Case{0, "A0 34 00 00 00 00 00 00 00 00 00 00 00 35 35 34", "72 01 00 50"}}) {
        std::vector<uint8_t> want = Hex(c.head);
        want.insert(want.end(), zeros.begin(), zeros.end());
        const auto tail = Hex(c.tail);
        want.insert(want.end(), tail.begin(), tail.end());
        EXPECT_EQ(versionPacket(c.address), want) << "address " << c.address;
    }
}

TEST(PacketFrame, PayloadLengthChecksumAndTrailer)
{
    TLCMUnit unit;
    unit.commandCode = 0x03;
    unit.trailer = 0x77; // must not enter the checksum
    std::vector<uint8_t> payload(300);
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = uint8_t(i * 7 + 1);
    unit.SetPayload(payload.data(), int(payload.size()));
    unit.BuildHeader();
    unit.CopyPayload();
    unit.FinishPacket();

    ASSERT_EQ(unit.PacketLength(), 352);
    const uint8_t* p = unit.Packet();
    EXPECT_EQ(GetU16LE(p + 1), 352);
    EXPECT_EQ(p[13], 0x03);
    EXPECT_EQ(p[14], 0x03);
    EXPECT_EQ(p[15], 0x02);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), p + 48));
    uint32_t sum = 0;
    for (int i = 0; i < 348; ++i)
        sum += p[i];
    EXPECT_EQ(GetU16LE(p + 348), uint16_t(sum));
    EXPECT_EQ(p[350], 0x77);
    EXPECT_EQ(p[351], 0x50);
}

TEST(PacketFrame, ChecksumWrapsAt16Bits)
{
    TLCMUnit unit;
    unit.commandCode = 0x03;
    std::vector<uint8_t> payload(1024, 0xFF);
    unit.SetPayload(payload.data(), 1024);
    unit.BuildHeader();
    unit.CopyPayload();
    unit.FinishPacket();
    uint32_t sum = 0;
    for (int i = 0; i < 48 + 1024; ++i)
        sum += unit.Packet()[i];
    ASSERT_GT(sum, 65535u);
    EXPECT_EQ(GetU16LE(unit.Packet() + 48 + 1024), uint16_t(sum & 0xFFFF));
}

TEST(PacketFrame, CommandWordOfCodeZeroWraps)
{
    TLCMUnit unit;
    unit.commandCode = 0x00;
    unit.BuildHeader();
    EXPECT_EQ(unit.Packet()[15], 0xFF);
    EXPECT_EQ(unit.commandWord, 0xFF00);
}

TEST(PacketFrame, PayloadLengthIsBoundedByTheBuffer)
{
    TLCMUnit unit;
    EXPECT_FALSE(unit.SetPayloadLength(5000));
    EXPECT_EQ(unit.PayloadLength(), 1024);
    EXPECT_LE(unit.PacketLength(), kPacketBufferSize);
    EXPECT_FALSE(unit.SetPayloadLength(-3));
    EXPECT_EQ(unit.PayloadLength(), 0);
    std::vector<uint8_t> big(3000, 1);
    EXPECT_EQ(unit.SetPayload(big.data(), 3000), 1024);
    unit.BuildHeader();
    unit.CopyPayload();
    unit.FinishPacket();
    EXPECT_EQ(unit.Packet()[51 + 1024], 0x50);
}

TEST(ReplyCheck, FrameAndChecksum)
{
    TLCMUnit unit;
    auto good = mxtest::Reply({1, 2, 3});
    EXPECT_TRUE(unit.CheckReply(good));

    auto offByOne = good;
    offByOne[48] = uint8_t(offByOne[48] + 1);
    EXPECT_FALSE(unit.CheckReply(offByOne));

    auto badEnd = good;
    badEnd[51] = 0x50;
    EXPECT_FALSE(unit.CheckReply(badEnd));

    auto badStart = mxtest::Reply();
    badStart[0] = 0xA0;
    EXPECT_FALSE(unit.CheckReply(badStart));

    // bytes outside the checksum are not examined
    auto byte50 = good;
    byte50[50] = 0x99;
    EXPECT_TRUE(unit.CheckReply(byte50));

    EXPECT_FALSE(unit.CheckReply(std::span<const uint8_t>(good.data(), 51)));
}

TEST(ReplyCheck, ChecksumAboveSixteenBitsComparesLowBits)
{
    std::vector<uint8_t> data(32, 0xFF);
    auto reply = mxtest::Reply(data);
    EXPECT_TRUE(CheckReplyFrame(reply));
}

TEST(Encoders, Bcd)
{
    struct Case { int value; uint8_t bcd; };
    for (auto c : {Case{0, 0x00}, Case{9, 0x09}, Case{59, 0x59}, Case{99, 0x99}, Case{123, 0x23}})
        EXPECT_EQ(ToBcd(c.value), c.bcd) << c.value;
    EXPECT_EQ(FromBcd(0x59), 59);
    EXPECT_EQ(FromBcd(0x00), 0);
}

TEST(Encoders, LittleEndian)
{
    uint8_t b[4] = {};
    PutU16LE(b, 0x1234);
    EXPECT_EQ(b[0], 0x34);
    EXPECT_EQ(b[1], 0x12);
    PutU32LE(b, 0xA1B2C3D4);
    EXPECT_EQ(mxtest::Bytes(b, 4), Hex("D4 C3 B2 A1"));
}

TEST(Encoders, PackDateTime)
{
    const QDate d(2024, 12, 31);
    const QTime t(23, 59, 58);
    struct Case { bool zeroDate, zeroTime; const char* want; };
    for (auto c : {Case{false, false, "31 12 24 00 58 59 23 00"}, Case{true, false, "00 00 00 00 58 59 23 00"},
                   Case{false, true, "31 12 24 00 00 00 00 00"}, Case{true, true, "00 00 00 00 00 00 00 00"}}) {
        uint8_t out[8];
        std::fill(std::begin(out), std::end(out), 0xEE);
        PackDateTime(out, c.zeroDate, c.zeroTime, d, t);
        EXPECT_EQ(mxtest::Bytes(out, 8), Hex(c.want)) << c.want;
    }
}

TEST(Encoders, PackDateTimeOfInvalidValuesWritesZeros)
{
    uint8_t out[8];
    PackDateTime(out, false, false, QDate(), QTime());
    EXPECT_EQ(mxtest::Bytes(out, 8), std::vector<uint8_t>(8, 0));
}

TEST(LcmDates, RoundTripKeepsSecondsExact)
{
    const QDateTime dt(QDate(2024, 3, 5), QTime(10, 7, 9));
    const double v = ToLcmDateTime(dt);
    EXPECT_EQ(LcmDate(v), dt.date());
    EXPECT_EQ(LcmTime(v), dt.time());
    EXPECT_DOUBLE_EQ(ToLcmDateTime(QDateTime(QDate(1899, 12, 30), QTime(12, 0))), 0.5);
    EXPECT_FALSE(LcmDate(std::nan("")).isValid());
    EXPECT_FALSE(LcmDate(1e300).isValid());
}

} // namespace

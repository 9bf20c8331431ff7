#include "model/hwcommands.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mx;
using mxtest::Hex;
using mxtest::Reply;

namespace {

TEST(HwVersion, TextFromReply)
{
    struct Case { std::vector<uint8_t> data; const char* text; };
    for (const auto& c : {Case{{0x10, 0x02, 0x01, 0x0A}, "ZELT-10 V2 .1 .A"},
                          Case{{0x10, 0x12, 0x01, 0x0A}, "ZELT-10 V12 .1 .A"},
                          Case{{0x03, 0x00, 0xFF, 0x00}, "ZELT-03 V0 .FF .0"}}) {
        TGetHWVersion cmd;
        ASSERT_TRUE(cmd.CheckReply(Reply(c.data)));
        EXPECT_EQ(cmd.versionText, QString::fromUtf8(c.text));
    }
}

TEST(HwVersion, BadReplyLeavesTextEmpty)
{
    TGetHWVersion cmd;
    auto r = Reply({0x10, 2, 1, 0x0A});
    r[49] ^= 1;
    EXPECT_FALSE(cmd.CheckReply(r));
    EXPECT_TRUE(cmd.versionText.isEmpty());
}

TEST(HwVersion, PacketHasNoPayloadAndZeroParameters)
{
    TGetHWVersion cmd;
    cmd.address = 1;
    cmd.BuildPacket();
    EXPECT_EQ(cmd.PacketLength(), 52);
    EXPECT_EQ(mxtest::Bytes(cmd.Packet(), 16), Hex("A0 34 00 01 00 00 00 00 00 00 00 00 00 35 35 34"));
    EXPECT_EQ(mxtest::Bytes(cmd.Packet() + 48, 4), Hex("73 01 00 50"));
}

TEST(HwParam, DecodesReplyData)
{
    // reply bytes 16..28: w h colour dpol oepol row scan swap b8 b9 b10 b11 b12, then noise
    std::vector<uint8_t> data = {16, 4, 2, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0x33, 9, 10, 11, 12, 0xEE, 0xEE, 0xEE};
    TGetHWParam cmd;
    ASSERT_TRUE(cmd.CheckReply(Reply(data)));
    const ParamRecord want = {16, 4, 2, 0, 0, 0xFF, 0, 1, 0x33, 9, 10, 11, 12, 0, 0, 0};
    EXPECT_EQ(cmd.params, want);
}

TEST(HwParam, SwapFlagIsZeroOrOne)
{
    for (uint8_t b23 : {0, 1, 5, 0xFF}) {
        std::vector<uint8_t> data(8, 0);
        data[7] = b23;
        TGetHWParam cmd;
        ASSERT_TRUE(cmd.CheckReply(Reply(data)));
        EXPECT_EQ(cmd.params[7], b23 ? 1 : 0);
    }
}

TEST(HwParam, FailedCheckKeepsRecord)
{
    TGetHWParam cmd;
    cmd.params = NewScreenParams();
    auto r = Reply({32, 2, 1});
    r[0] = 0;
    EXPECT_FALSE(cmd.CheckReply(r));
    EXPECT_EQ(cmd.params, NewScreenParams());
}

TEST(SetHwParam, PacketCarriesRecord)
{
    TSetHWParam cmd;
    cmd.params = NewScreenParams();
    cmd.address = 1;
    cmd.BuildPacket();
    const uint8_t* p = cmd.Packet();
    EXPECT_EQ(mxtest::Bytes(p + 13, 3), Hex("23 23 22"));
    EXPECT_EQ(mxtest::Bytes(p + 16, 16), Hex("08 08 01 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(mxtest::Bytes(p + 32, 16), std::vector<uint8_t>(16, 0));
    EXPECT_EQ(cmd.PacketLength(), 52);
}

TEST(SetHwParam, RejectionIsDistinctFromABadReply)
{
    TSetHWParam cmd;
    EXPECT_FALSE(cmd.CheckReply(Reply({}, 0x04)));
    EXPECT_TRUE(cmd.Rejected());

    auto bad = Reply({}, 0x04);
    bad[51] = 0;
    EXPECT_FALSE(cmd.CheckReply(bad));
    EXPECT_FALSE(cmd.Rejected());

    EXPECT_TRUE(cmd.CheckReply(Reply({}, 0x00)));
    EXPECT_FALSE(cmd.Rejected());
}

} // namespace

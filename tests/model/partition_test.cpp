#include "model/panel.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mx;

namespace {

std::vector<int> partitionsOf(const TLCMPanel& s)
{
    std::vector<int> out;
    for (int i = 0; i < s.units->GetCount(); ++i)
        out.push_back(s.units->GetPage(i)->GetPartition());
    return out;
}

void addPages(TLCMPanel& s, std::vector<int> numbers)
{
    for (int n : numbers)
        s.units->Append(KindText)->SetPartition(n);
}

// A reply data field: entries of {left, top, width, height} in units of 8 dots.
std::array<uint8_t, 32> table(std::vector<std::array<uint8_t, 4>> entries, uint8_t first = 1)
{
    std::array<uint8_t, 32> t{};
    for (size_t i = 0; i < entries.size(); ++i) {
        t[8 * i] = 1;
        std::copy(entries[i].begin(), entries[i].end(), t.begin() + 8 * long(i) + 1);
    }
    if (entries.empty())
        t[0] = first;
    return t;
}

TEST(Partition, NewScreen)
{
    TLCMPanel s;
    EXPECT_EQ(s.partition->type, 0);
    ASSERT_EQ(s.partition->GetCount(), 1);
    EXPECT_EQ(*s.partition->GetRect(0), (LcmRect{0, 0, 64, 64}));
    EXPECT_EQ(s.partition->owner, &s);
    EXPECT_EQ(s.partition->GetName(), QStringLiteral("分区"));
    EXPECT_EQ(s.partition->kind, KindPartition);
}

TEST(Partition, RectAccessGuards)
{
    TLCMPartition p;
    p.AddRect({0, 0, 8, 8});
    EXPECT_EQ(p.GetRect(-1), nullptr);
    EXPECT_EQ(p.GetRect(1), nullptr);
    p.DeleteRect(5);
    p.DeleteRect(-1);
    EXPECT_EQ(p.GetCount(), 1);
    p.DeleteRect(0);
    EXPECT_EQ(p.GetCount(), 0);
}

TEST(Partition, ReassignPages)
{
    struct Case { std::vector<int> before; int count; std::vector<int> after; };
    for (const auto& c : {Case{{3, 1, 0, 2, 0}, 2, {1, 1, 1, 2, 2}}, Case{{3, 1, 0, 2, 0}, 1, {1, 1, 1, 1, 1}},
                          Case{{0, 0}, 3, {1, 1}}, Case{{2, 5, 3}, 3, {2, 2, 3}}}) {
        TLCMPanel s;
        addPages(s, c.before);
        ReassignPages(s, c.count, 1);
        EXPECT_EQ(partitionsOf(s), c.after);
    }
}

TEST(Partition, ReassignKeepsClearBit)
{
    TLCMPanel s;
    addPages(s, {7});
    TLCMSendMsg* p = s.units->GetPage(0);
    p->SetU8(Rec::PartitionClear, p->U8(Rec::PartitionClear) | kClearPanelBit);
    ReassignPages(s, 2, 1);
    EXPECT_EQ(p->U8(Rec::PartitionClear), 0x81);
}

TEST(Partition, ResetToSingle)
{
    TLCMPanel s;
    s.params[0] = 16;
    s.params[1] = 4;
    addPages(s, {2, 0, 3});
    ResetToSingle(s);
    ASSERT_EQ(s.partition->GetCount(), 1);
    EXPECT_EQ(*s.partition->GetRect(0), (LcmRect{0, 0, 128, 32}));
    EXPECT_EQ(partitionsOf(s), (std::vector<int>{1, 1, 1}));
}

TEST(Partition, PageArea)
{
    TLCMPanel s;
    s.partition->ClearRects();
    s.partition->AddRect({0, 0, 32, 64});
    s.partition->AddRect({32, 0, 64, 64});
    addPages(s, {0, 2, 3});
    s.partition->type = PartitionNone;
    EXPECT_EQ(PageArea(s, *s.units->GetPage(1)), (LcmRect{0, 0, 32, 64})) << "type 0 always uses rectangle 1";
    s.partition->type = PartitionLR;
    EXPECT_EQ(PageArea(s, *s.units->GetPage(1)), (LcmRect{32, 0, 64, 64}));
    // Numbers without a rectangle play in the first one and keep their number.
    EXPECT_EQ(PageArea(s, *s.units->GetPage(0)), (LcmRect{0, 0, 32, 64}));
    EXPECT_EQ(PageArea(s, *s.units->GetPage(2)), (LcmRect{0, 0, 32, 64}));
    EXPECT_TRUE(PagePartitionMissing(s, *s.units->GetPage(2)));
    EXPECT_FALSE(PagePartitionMissing(s, *s.units->GetPage(1)));
    EXPECT_EQ(s.units->GetPage(2)->GetPartition(), 3);
}

TEST(PartitionTable, Encode)
{
    TLCMPartition p;
    p.AddRect({0, 0, 64, 32});
    p.AddRect({64, 0, 128, 16});
    p.AddRect({64, 16, 128, 32});
    std::array<uint8_t, 32> data{};
    EncodePartitionTable(p, data.data());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(data.data()), 32).toHex(' '),
              "01 00 00 08 04 00 00 00 01 08 00 08 02 00 00 00 01 08 02 08 02 00 00 00 "
              "00 00 00 00 00 00 00 00");
    p.AddRect({0, 32, 8, 40});
    p.AddRect({8, 32, 16, 40});
    data.fill(0);
    EncodePartitionTable(p, data.data());
    EXPECT_EQ(data[24], 1) << "the fourth of five is written";
    EXPECT_EQ(data[25], 0);
    EXPECT_EQ(data[26], 4);
}

TEST(PartitionTable, DecodeClassifies)
{
    struct Case {
        const char* name;
        std::array<uint8_t, 32> data;
        int typeBefore;
        int type;
        int rects;
        uint8_t partitionsSet;
    };
    const std::vector<Case> cases = {
        {"none set", table({}, 0xFF), 4, 0, 1, 0},
        {"one entry", table({{{1, 1, 2, 2}}}), 4, 0, 1, 1},
        {"equal left and top", table({{{0, 0, 8, 4}}, {{0, 0, 8, 4}}}), 0, 2, 2, 1},
        {"left right", table({{{0, 0, 4, 8}}, {{4, 0, 4, 8}}}), 0, 1, 2, 1},
        {"neither keeps type", table({{{0, 0, 4, 4}}, {{4, 4, 4, 4}}}), 6, 6, 2, 1},
        {"three columns", table({{{0, 0, 2, 8}}, {{2, 0, 2, 8}}, {{4, 0, 4, 8}}}), 0, 3, 3, 1},
        {"three rows", table({{{0, 0, 8, 2}}, {{0, 2, 8, 2}}, {{0, 4, 8, 4}}}), 0, 4, 3, 1},
        {"3_1", table({{{0, 0, 4, 4}}, {{4, 0, 4, 4}}, {{0, 4, 8, 4}}}), 0, 5, 3, 1},
        {"3_2", table({{{0, 0, 8, 4}}, {{0, 4, 4, 4}}, {{4, 4, 4, 4}}}), 0, 6, 3, 1},
        {"3_3", table({{{0, 0, 4, 4}}, {{0, 4, 4, 4}}, {{4, 0, 4, 8}}}), 0, 7, 3, 1},
        {"3_4", table({{{0, 0, 4, 8}}, {{4, 0, 4, 4}}, {{4, 4, 4, 4}}}), 0, 8, 3, 1},
        {"other three", table({{{0, 0, 2, 2}}, {{2, 0, 2, 2}}, {{3, 3, 2, 2}}}), 0, 9, 3, 1},
        {"four", table({{{0, 0, 4, 4}}, {{4, 0, 4, 4}}, {{0, 4, 4, 4}}, {{4, 4, 4, 4}}}), 0, 9, 4, 1},
        {"no entries, not 0xFF", table({}, 0), 3, 0, 1, 1},
    };
    for (const auto& c : cases) {
        TLCMPanel s;
        s.partition->type = int8_t(c.typeBefore);
        s.PartitionsSet = 7;
        DecodePartitionTable(s, c.data.data());
        EXPECT_EQ(s.partition->type, c.type) << c.name;
        EXPECT_EQ(s.partition->GetCount(), c.rects) << c.name;
        EXPECT_EQ(s.PartitionsSet, c.partitionsSet) << c.name;
        if (c.rects == 1) {
            EXPECT_EQ(*s.partition->GetRect(0), (LcmRect{0, 0, 64, 64})) << c.name;
        }
    }
}

TEST(PartitionTable, DecodeTakesRectanglesInUnitsOfEight)
{
    TLCMPanel s;
    const auto data = table({{{0, 0, 4, 8}}, {{4, 0, 30, 8}}});
    DecodePartitionTable(s, data.data());
    EXPECT_EQ(*s.partition->GetRect(1), (LcmRect{32, 0, 272, 64})) << "taken as they come";
}

TEST(PartitionTable, DecodeKeepsPageNumbers)
{
    const std::vector<std::array<uint8_t, 32>> tables = {table({{{0, 0, 4, 8}}, {{4, 0, 4, 8}}}), table({}, 0xFF)};
    for (const auto& data : tables) {
        TLCMPanel s;
        addPages(s, {3, 1, 0, 2, 0});
        DecodePartitionTable(s, data.data());
        EXPECT_EQ(partitionsOf(s), (std::vector<int>{3, 1, 0, 2, 0}));
        for (int i = 0; i < s.units->GetCount(); ++i)
            EXPECT_TRUE(PageArea(s, *s.units->GetPage(i)).has_value()) << "every page has an area to play in";
    }
}

} // namespace

#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "testutil.h"

#include <gtest/gtest.h>

using namespace mx;

namespace {

class ProgramList : public ::testing::Test {
protected:
    std::vector<int> partitions() const
    {
        std::vector<int> out;
        for (int i = 0; i < list().GetCount(); ++i)
            out.push_back(list().GetPage(i)->GetPartition());
        return out;
    }
    TLCMUnits& list() const { return *screen.units; }
    TLCMSendMsg* add(int partition)
    {
        TLCMSendMsg* p = list().Append(KindText);
        p->SetPartition(partition);
        return p;
    }
    TLCMPanel screen;
};

TEST_F(ProgramList, CreatePageKnowsEveryPageKind)
{
    struct Case { uint16_t kind; bool made; };
    for (auto c : {Case{KindText, true}, Case{KindRtf, true}, Case{KindImage, true}, Case{KindTimer, true},
                   Case{KindTemperature, true}, Case{KindConter, true}, Case{KindTimerEx, true},
                   Case{0x8005, false}, Case{0x8008, false}, Case{KindPanel, false}, Case{0, false}}) {
        auto page = TLCMUnits::CreatePage(c.kind);
        EXPECT_EQ(page != nullptr, c.made) << std::hex << c.kind;
        if (page) {
            EXPECT_EQ(page->kind, c.kind);
        }
    }
    EXPECT_EQ(list().Append(0x8005), nullptr);
    EXPECT_EQ(list().GetCount(), 0);
}

TEST_F(ProgramList, AppendSetsOwnerAndTag)
{
    TLCMSendMsg* a = list().Append(KindText);
    TLCMSendMsg* b = list().Append(KindTimer);
    EXPECT_EQ(a->owner, &screen);
    EXPECT_EQ(a->firstSlot, 16);
    EXPECT_EQ(b->firstSlot, 32);
    EXPECT_EQ(list().IndexOf(b), 1);
    EXPECT_EQ(list().GetPage(-1), nullptr);
    EXPECT_EQ(list().GetPage(2), nullptr);
}

TEST_F(ProgramList, NextFreeTag)
{
    EXPECT_EQ(list().NextFreeTag(), 16);
    add(0)->firstSlot = 16;
    add(0)->firstSlot = 48;
    EXPECT_EQ(list().NextFreeTag(), 32);
}

TEST_F(ProgramList, InsertInPartitionKeepsPartitionsTogether)
{
    for (int n : {1, 1, 2, 3})
        add(n);
    TLCMSendMsg* p = list().InsertInPartition(2, KindText);
    EXPECT_EQ(list().IndexOf(p), 3);
    EXPECT_EQ(p->GetPartition(), 2);
    TLCMSendMsg* q = list().InsertInPartition(3, KindText);
    EXPECT_EQ(list().IndexOf(q), 5);
    EXPECT_EQ(partitions(), (std::vector<int>{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(list().InsertInPartition(1, 0x8008), nullptr);
    EXPECT_EQ(list().GetCount(), 6);
}

TEST_F(ProgramList, MovesStayInsideAPartition)
{
    TLCMSendMsg* a = add(1);
    TLCMSendMsg* b = add(1);
    TLCMSendMsg* c = add(2);
    EXPECT_FALSE(list().MoveUp(a));
    EXPECT_FALSE(list().MoveDown(c));
    EXPECT_FALSE(list().MoveDown(b)) << "neighbour in another partition";
    EXPECT_FALSE(list().MoveUp(c));
    EXPECT_TRUE(list().MoveUp(b));
    EXPECT_EQ(list().IndexOf(b), 0);
    EXPECT_TRUE(list().MoveDown(b));
    EXPECT_EQ(list().IndexOf(b), 1);
    TLCMText stranger;
    EXPECT_FALSE(list().MoveUp(&stranger));
    EXPECT_FALSE(list().Remove(&stranger));
}

TEST_F(ProgramList, SinglePageCannotMove)
{
    TLCMSendMsg* a = add(0);
    EXPECT_FALSE(list().MoveUp(a));
    EXPECT_FALSE(list().MoveDown(a));
}

TEST_F(ProgramList, RemoveAndClear)
{
    TLCMSendMsg* a = add(0);
    add(0);
    EXPECT_FALSE(list().RemoveAt(2));
    EXPECT_FALSE(list().RemoveAt(-1));
    EXPECT_TRUE(list().Remove(a));
    EXPECT_EQ(list().GetCount(), 1);
    list().Clear();
    EXPECT_EQ(list().GetCount(), 0);
}

TEST_F(ProgramList, ReorderFromTreeRenumbersPartitions)
{
    TLCMSendMsg* a = add(1);
    TLCMSendMsg* b = add(1);
    TLCMSendMsg* c = add(2);
    // dragged: b into partition 2 after c, a stays
    ASSERT_TRUE(list().ReorderFromTree({1, {{a}, {c, b}}}));
    EXPECT_EQ(list().IndexOf(a), 0);
    EXPECT_EQ(list().IndexOf(c), 1);
    EXPECT_EQ(list().IndexOf(b), 2);
    EXPECT_EQ(partitions(), (std::vector<int>{1, 2, 2}));

    ASSERT_TRUE(list().ReorderFromTree({0, {{b, a, c}}}));
    EXPECT_EQ(list().IndexOf(b), 0);
    EXPECT_EQ(partitions(), (std::vector<int>{0, 0, 0}));
}

TEST_F(ProgramList, ReorderFromTreeRefusesATreeThatIsNotTheList)
{
    TLCMSendMsg* a = add(1);
    TLCMSendMsg* b = add(1);
    TLCMText stranger;
    for (const TreeOrder& tree : {TreeOrder{1, {{a}}}, TreeOrder{1, {{a, a}}}, TreeOrder{1, {{a, b, &stranger}}},
                                  TreeOrder{1, {{a}, {b, nullptr}}}}) {
        EXPECT_FALSE(list().ReorderFromTree(tree));
        EXPECT_EQ(list().IndexOf(a), 0);
        EXPECT_EQ(list().IndexOf(b), 1);
        EXPECT_EQ(partitions(), (std::vector<int>{1, 1}));
    }
}

TEST_F(ProgramList, AssignSlotsIsARunningSum)
{
    TLCMSendMsg* text = list().Append(KindText);
    auto* rtf = static_cast<TLCMRtf*>(list().Append(KindRtf));
    for (int i = 0; i < 3; ++i)
        rtf->AddLedPage(QByteArray(128, '\0'));
    auto* image = static_cast<TLCMImage*>(list().Append(KindImage));
    EXPECT_EQ(AssignSlots(screen), 5);
    EXPECT_EQ(text->firstSlot, 0);
    EXPECT_EQ(rtf->firstSlot, 1);
    EXPECT_EQ(image->firstSlot, 4);
    EXPECT_EQ(80 - AssignSlots(screen), 75);
}

TEST(Panels, NextFreeAddress)
{
    TLCMPanels panels;
    EXPECT_EQ(panels.AddPanel()->address, 1);
    EXPECT_EQ(panels.AddPanel()->address, 2);
    panels.AddPanel()->address = 4;
    EXPECT_EQ(panels.NextFreeAddress(), 3);
    EXPECT_EQ(panels.AddPanel()->address, 3);

    ASSERT_TRUE(panels.DeletePanel(0));
    EXPECT_EQ(panels.GetPanel(0)->address, 2);
    EXPECT_EQ(panels.AddPanel()->address, 1);
}

TEST(Panels, StoredTopAddressDoesNotBreakTheSearch)
{
    TLCMPanels panels;
    for (int i = 0; i < 3; ++i)
        panels.AddPanel();
    panels.GetPanel(0)->address = 65535;
    EXPECT_EQ(panels.NextFreeAddress(), 1);
}

TEST(Panels, IndexGuards)
{
    TLCMPanels panels;
    panels.AddPanel();
    EXPECT_EQ(panels.GetPanel(panels.Count()), nullptr);
    EXPECT_EQ(panels.GetPanel(-1), nullptr);
    EXPECT_FALSE(panels.DeletePanel(panels.Count()));
    EXPECT_FALSE(panels.DeletePanel(-1));
    EXPECT_EQ(panels.Count(), 1);
    panels.Clear();
    EXPECT_EQ(panels.Count(), 0);
}

TEST(Panels, DuplicateStoredAddressesAreKept)
{
    TLCMPanels panels;
    auto a = std::make_unique<TLCMPanel>();
    a->address = 7;
    auto b = std::make_unique<TLCMPanel>();
    b->address = 7;
    panels.Adopt(std::move(a));
    panels.Adopt(std::move(b));
    EXPECT_EQ(panels.GetPanel(0)->address, 7);
    EXPECT_EQ(panels.GetPanel(1)->address, 7);
}

TEST(Panels, SerialPortNumberIsProjectWide)
{
    TLCMPanels panels;
    TLCMPanel* a = panels.AddPanel();
    TLCMPanel* b = panels.AddPanel();
    a->SetSerialPortNumber(5);
    EXPECT_EQ(b->SerialPortNumber(), 5);
    EXPECT_EQ(panels.serialPortNumber, 5);
}

TEST(Panel, ConstructorDefaults)
{
    TLCMPanel s;
    EXPECT_EQ(s.kind, KindPanel);
    EXPECT_EQ(s.owner, nullptr);
    EXPECT_EQ(s.baudRate, 57600);
    EXPECT_EQ(s.pollBudget, 100);
    EXPECT_EQ(s.params, (ParamRecord{8, 8, 1}));
    EXPECT_EQ(s.address, 0);
    EXPECT_EQ(s.versionText, "Unkown");
    EXPECT_EQ(s.GetName(), "Panel?");
    EXPECT_EQ(s.units->owner, &s);
    EXPECT_EQ(s.PartitionsSet, 1);
    EXPECT_EQ(s.Width(), 64);
    EXPECT_EQ(s.Height(), 64);
}

} // namespace

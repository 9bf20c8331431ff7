#include "flows/search.h"
#include "simfixture.h"

using namespace mx;

namespace {

class Search : public SimLink {
protected:
    void SetUp() override
    {
        SimLink::SetUp();
        ClearPortOverrides();
        mx::SetPortSettingsFile({});
        // The directory holds only what a test names; devices of this machine stay out.
        mx::SetDeviceScanRoots(dir.path() + "/nodev", dir.path() + "/nosys");
        report.status = [this](const QString& s) { statuses << s; };
        report.progress = [this](int p) { positions.push_back(p); };
    }
    void TearDown() override
    {
        SimLink::TearDown();
        mx::SetDeviceScanRoots({}, {});
    }
    QString absent(int n = 0) const { return dir.path() + QStringLiteral("/absent%1").arg(n); }

    SearchReport report;
    QStringList statuses;
    std::vector<int> positions;
};

TEST_F(Search, FindsTheCardOnTheSecondPort)
{
    SetPortOverride(3, absent());
    SetPortOverride(1, link);
    screen->SetSerialPortNumber(9);
    ASSERT_TRUE(SearchController(screen, report));
    EXPECT_EQ(statuses, (QStringList{"查找端口 COM3 @ 57600", "查找端口 COM1 @ 57600",
                                     "查找到 ZELT-10 V2 .1 .A COM1 @ 57600"}));
    EXPECT_EQ(positions, (std::vector<int>{0, 25, 50, 100}));
    EXPECT_EQ(screen->SerialPortNumber(), 1);
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Search, StepOfThreePorts)
{
    SetPortOverride(1, link);
    SetPortOverride(2, absent(2));
    SetPortOverride(3, absent(3));
    ASSERT_TRUE(SearchController(screen, report));
    EXPECT_EQ(positions, (std::vector<int>{0, 16, 32, 100}));
}

TEST_F(Search, NothingAnswersRestoresThePort)
{
    SetPortOverride(2, absent());
    screen->SetSerialPortNumber(7);
    EXPECT_FALSE(SearchController(screen, report));
    EXPECT_EQ(screen->SerialPortNumber(), 7);
    EXPECT_EQ(statuses.last(), "没有找到控制卡，请检查硬件后重新查找。");
    EXPECT_EQ(positions.back(), 100);
}

TEST_F(Search, NoPortsAtAll)
{
    EXPECT_FALSE(SearchController(screen, report));
    EXPECT_EQ(statuses, QStringList{"没有找到控制卡，请检查硬件后重新查找。"});
    EXPECT_EQ(positions, (std::vector<int>{0, 100}));
}

TEST_F(Search, VersionOnlyCardIsPassedOverButKeepsItsVersion)
{
    SetPortOverride(1, link);
    card.SetVersionOnly(true);
    screen->pollBudget = 5;
    EXPECT_FALSE(SearchController(screen, report));
    EXPECT_EQ(screen->versionText, "ZELT-10 V2 .1 .A");
    EXPECT_EQ(positions, (std::vector<int>{0, 50, 100}));
}

TEST_F(Search, NoScreenDoesNothing)
{
    EXPECT_FALSE(SearchController(nullptr, report));
    EXPECT_TRUE(statuses.isEmpty());
}

} // namespace

#include "link/portdir.h"
#include "model/panel.h"
#include "storage/project_file.h"
#include "storage/settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mx;

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearPortOverrides();
        SetPortSettingsFile({});
        SetDeviceScanRoots(tmp.path() + "/nodev", tmp.path() + "/nosys");
    }
    void TearDown() override { SetDeviceScanRoots({}, {}); }
    QString ini() const { return tmp.path() + "/LED.ini"; }
    QString def() const { return tmp.path() + "/Marquix.lcm"; }
    void saveProjectNamed(const QString& path, const QString& screenName)
    {
        TLCMPanels p;
        p.AddPanel()->name = screenName;
        ASSERT_TRUE(SaveProject(p, path).ok);
    }
    QTemporaryDir tmp;
    TLCMPanels project;
};

TEST_F(Startup, FirstStartMakesOneScreen)
{
    const auto out = OpenStartupProject(project, ini(), def());
    EXPECT_FALSE(out.loaded);
    ASSERT_EQ(project.Count(), 1);
    EXPECT_EQ(project.GetPanel(0)->name, QStringLiteral("1号屏"));
    EXPECT_EQ(project.serialPortNumber, 1) << "no serial port listed";
    EXPECT_TRUE(out.currentPath.isEmpty());
}

TEST_F(Startup, FirstPortOfTheDirectory)
{
    SetPortOverride(4, "/dev/null");
    OpenStartupProject(project, ini(), def());
    EXPECT_EQ(project.serialPortNumber, 4);
    ClearPortOverrides();
}

TEST_F(Startup, MissingLastFileLoadsTheDefaultProject)
{
    saveProjectNamed(def(), "kept");
    const auto out = OpenStartupProject(project, ini(), def());
    EXPECT_TRUE(out.loaded);
    EXPECT_EQ(project.GetPanel(0)->name, "kept");
    EXPECT_EQ(out.currentPath, def());
}

TEST_F(Startup, LastFileElsewhereIsLoadedAndCloseSavesToTheDefault)
{
    const QString other = tmp.path() + "/other.lcm";
    saveProjectNamed(other, "elsewhere");
    ASSERT_TRUE(WriteLastFile(ini(), other));
    ASSERT_TRUE(OpenStartupProject(project, ini(), def()).loaded);
    EXPECT_EQ(project.GetPanel(0)->name, "elsewhere");

    ASSERT_TRUE(SaveAtClose(project, ini(), def()).ok);
    EXPECT_EQ(ReadLastFile(ini()), def());
    TLCMPanels again;
    ASSERT_TRUE(LoadProject(def(), again).ok);
    EXPECT_EQ(again.GetPanel(0)->name, "elsewhere");
}

TEST_F(Startup, VanishedLastFileLoadsTheDefaultProject)
{
    saveProjectNamed(def(), "default");
    ASSERT_TRUE(WriteLastFile(ini(), tmp.path() + "/gone.lcm"));
    const auto out = OpenStartupProject(project, ini(), def());
    EXPECT_TRUE(out.loaded);
    EXPECT_EQ(project.GetPanel(0)->name, "default") << "an empty start would overwrite it at close";
    EXPECT_EQ(out.currentPath, def());
}

TEST_F(Startup, VanishedLastFileWithoutDefaultStartsNew)
{
    ASSERT_TRUE(WriteLastFile(ini(), tmp.path() + "/gone.lcm"));
    const auto out = OpenStartupProject(project, ini(), def());
    EXPECT_FALSE(out.loaded);
    EXPECT_EQ(project.GetPanel(0)->name, QStringLiteral("1号屏"));
}

TEST_F(Startup, DamagedProjectIsReportedAndCopiedAside)
{
    QFile f(def());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\x01\x00LCM PANEL broken");
    f.close();
    const auto out = OpenStartupProject(project, ini(), def());
    EXPECT_FALSE(out.loaded);
    EXPECT_TRUE(out.message.contains("Marquix.lcm")) << out.message.toStdString();
    EXPECT_EQ(project.Count(), 1);
    const QStringList copies = QDir(tmp.path()).entryList({"Marquix.lcm.damaged-*"});
    ASSERT_EQ(copies.size(), 1);
    QFile copy(tmp.path() + "/" + copies[0]);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("\x01\x00LCM PANEL broken"));
}

TEST_F(Startup, FailedCloseIsReported)
{
    OpenStartupProject(project, ini(), def());
    const auto r = SaveAtClose(project, ini(), tmp.path() + "/missing/Marquix.lcm");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(ReadLastFile(ini()).isEmpty()) << "LastFile is written only after the project";
}

} // namespace

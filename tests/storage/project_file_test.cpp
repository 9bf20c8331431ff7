#include "model/imagepage.h"
#include "render/picture_page.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "storage/project_file.h"
#include "codec/record_stream.h"
#include "sample_project.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mx;
using mxtest::fillEveryKind;

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

QByteArray tag(const char* name, int width = 16)
{
    QByteArray t(name);
    t.resize(width, '\0');
    return t;
}

QByteArray text(const QString& s)
{
    RecordWriter w;
    w.Text(s);
    return w.Data();
}

// The file of a project whose one screen was just created: written out from the record
// layout by hand, as the other tool writes it.
QByteArray newProjectFile()
{
    QByteArray f = hex("01 00");
    f += tag("LCM PANEL");
    f += hex("01 00 00 00");
    f += hex("08 08 01 00 00 00 00 00 00 00 00 00 00 00 00 00");
    f += hex("01 00 00 00");
    f += text("Unkown");
    f += hex("03 00 31 00 F7 53 4F 5C");
    f += tag("LCM PARTI");
    f += hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 40 00 00 00 40 00 00 00");
    f += hex("00 00 00 00");
    return f;
}

TEST(ProjectFile, NewProjectIs108Bytes)
{
    TLCMPanels project;
    project.AddPanel()->name = project.NextFreeScreenName();
    const QByteArray bytes = EncodeProject(project);
    EXPECT_EQ(bytes.size(), 108);
    EXPECT_EQ(bytes.toHex(' '), newProjectFile().toHex(' '));
}

TEST(ProjectFile, TheOtherToolsFileLoadsAndSavesBackTheSame)
{
    TLCMPanels project;
    ASSERT_TRUE(DecodeProject(newProjectFile(), project, "new.lcm").ok);
    ASSERT_EQ(project.Count(), 1);
    const TLCMPanel& s = *project.GetPanel(0);
    EXPECT_EQ(s.name, QStringLiteral("1号屏"));
    EXPECT_EQ(s.address, 1);
    EXPECT_EQ(s.partition->GetCount(), 1);
    EXPECT_EQ(EncodeProject(project), newProjectFile());
}

TEST(ProjectFile, EmptyProject)
{
    TLCMPanels project;
    EXPECT_EQ(EncodeProject(project), hex("00 00"));
    project.AddPanel();
    ASSERT_TRUE(DecodeProject(hex("00 00"), project, "empty.lcm").ok);
    EXPECT_EQ(project.Count(), 0);
}

TEST(ProjectFile, EveryPageKindRoundTripsByteForByte)
{
    TLCMPanels project;
    fillEveryKind(project);
    const QByteArray first = EncodeProject(project);

    TLCMPanels loaded;
    const auto result = DecodeProject(first, loaded, "all.lcm");
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_EQ(EncodeProject(loaded), first);

    const TLCMPanel& s = *loaded.GetPanel(0);
    EXPECT_EQ(loaded.serialPortNumber, 3);
    ASSERT_EQ(s.units->GetCount(), 7);
    const std::vector<uint16_t> kinds = {KindText, KindRtf, KindImage, KindTimer, KindTemperature, KindConter, KindTimerEx};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(s.units->GetPage(i)->kind, kinds[size_t(i)]);
        EXPECT_EQ(s.units->GetPage(i)->Record(), project.GetPanel(0)->units->GetPage(i)->Record());
        EXPECT_EQ(s.units->GetPage(i)->owner, &s);
    }
    auto* t = static_cast<TLCMText*>(s.units->GetPage(0));
    EXPECT_EQ(t->lines, (QStringList{QStringLiteral("第一行"), QString(), "line 3"}));
    auto* r = static_cast<TLCMRtf*>(s.units->GetPage(1));
    EXPECT_EQ(r->Document(), DefaultRtfDocument());
    EXPECT_EQ(r->pagingDirection, 1);
    EXPECT_EQ(r->ledPageCount, 4);
    auto* img = static_cast<TLCMImage*>(s.units->GetPage(2));
    EXPECT_EQ(img->Picture().pixelColor(3, 4), QColor(Qt::red));
    EXPECT_EQ(img->DisplayData().size(), 64 * 32 / 8 * 2);
    auto* cnt = static_cast<TLCMConter*>(s.units->GetPage(5));
    EXPECT_EQ(cnt->digitCount, 5);
    EXPECT_EQ(cnt->targetDate, 46000.25);
    EXPECT_EQ(static_cast<TTemplatePage*>(s.units->GetPage(4))->displayTemplate, QString());
}

TEST(ProjectFile, RecordSizes)
{
    TLCMPanels project;
    TLCMPanel* s = project.AddPanel();
    const qsizetype empty = EncodeProject(project).size();
    s->units->Append(KindTimerEx);
    EXPECT_EQ(EncodeProject(project).size() - empty, 2 + 18 + 56);
    s->units->Clear();
    s->units->Append(KindImage); // no picture at all
    const QByteArray bytes = EncodeProject(project);
    EXPECT_EQ(bytes.size() - empty, 2 + 16 + 1 + 4 + 4 + 4 + 4 + 56);
    EXPECT_EQ(bytes.mid(empty + 2 + 16 + 1, 4), hex("00 00 00 00"));
}

TEST(ProjectFile, LoadResetsVersionAndKeepsStoredAddresses)
{
    TLCMPanels project;
    for (int i = 0; i < 2; ++i) {
        TLCMPanel* s = project.AddPanel();
        s->address = 9;
        s->versionText = "ZELT-10 V2 .1 .A";
    }
    TLCMPanels loaded;
    ASSERT_TRUE(DecodeProject(EncodeProject(project), loaded, "x").ok);
    EXPECT_EQ(loaded.GetPanel(0)->address, 9);
    EXPECT_EQ(loaded.GetPanel(1)->address, 9);
    EXPECT_EQ(loaded.GetPanel(0)->versionText, "Unkown");
}

TEST(ProjectFile, LastScreenRecordDecidesThePort)
{
    QByteArray two = newProjectFile();
    two[0] = 2;
    two += newProjectFile().mid(2);
    two[2 + 106 + 16] = 5; // the second screen's port number
    TLCMPanels loaded;
    ASSERT_TRUE(DecodeProject(two, loaded, "two.lcm").ok);
    EXPECT_EQ(loaded.serialPortNumber, 5);
    EXPECT_EQ(loaded.GetPanel(0)->SerialPortNumber(), 5);
}

TEST(ProjectFile, PagesWithoutARectangleKeepTheirNumbersOnLoad)
{
    TLCMPanels project;
    TLCMPanel* s = project.AddPanel();
    s->partition->type = PartitionLR;
    s->partition->AddRect({32, 0, 64, 64});
    for (int n : {3, 1, 0, 2, 0})
        s->units->Append(KindText)->SetPartition(n);
    TLCMPanels loaded;
    ASSERT_TRUE(DecodeProject(EncodeProject(project), loaded, "x").ok);
    std::vector<int> got;
    for (int i = 0; i < 5; ++i)
        got.push_back(loaded.GetPanel(0)->units->GetPage(i)->GetPartition());
    EXPECT_EQ(got, (std::vector<int>{3, 1, 0, 2, 0})) << "a layout set again later finds them where they were";
}

TEST(ProjectFile, RichTextPageCountIsBoundedOnLoad)
{
    for (const auto& [stored, loaded] : std::vector<std::pair<int, int>>{{-5, 1}, {0, 1}, {7, 7}, {30, 30}, {500, 30}}) {
        TLCMPanels project;
        static_cast<TLCMRtf*>(project.AddPanel()->units->Append(KindRtf))->ledPageCount = stored;
        TLCMPanels again;
        ASSERT_TRUE(DecodeProject(EncodeProject(project), again, "x").ok);
        EXPECT_EQ(static_cast<TLCMRtf*>(again.GetPanel(0)->units->GetPage(0))->ledPageCount, loaded) << stored;
    }
}

// Damaged files: every one is refused with the file's name and an offset, and leaves the
// project as it was.
TEST(ProjectFile, DamagedFilesLeaveTheProjectAlone)
{
    TLCMPanels source;
    fillEveryKind(source);
    const QByteArray good = EncodeProject(source);
    struct Case { const char* what; QByteArray bytes; const char* says; };
    std::vector<Case> cases;
    auto with = [&](qsizetype at, const QByteArray& patch) {
        QByteArray b = good;
        b.replace(at, patch.size(), patch);
        return b;
    };
    const qsizetype partitionAt = good.indexOf("LCM PARTI");
    const qsizetype pagesAt = partitionAt + 16 + 8 + 2 * 16;
    cases.push_back({"empty", QByteArray(), "ends"});
    cases.push_back({"bad screen tag", with(2, "LCM PANEX"), "LCM PANEL"});
    cases.push_back({"bad partition tag", with(partitionAt, "XCM"), "LCM PARTI"});
    cases.push_back({"huge screen count", with(0, hex("FF FF")), "screen count"});
    cases.push_back({"negative page count", with(pagesAt, hex("FF FF FF FF")), "page count"});
    cases.push_back({"page count past the file", with(pagesAt, hex("E8 03 00 00")), "page count"});
    cases.push_back({"unknown kind", with(pagesAt + 4, hex("05 80")), "0x8005"});
    cases.push_back({"rect count", with(partitionAt + 20, hex("00 00 00 40")), "rectangle count"});
    cases.push_back({"trailing bytes", good + "junk", "follow the last screen"});
    const qsizetype imageAt = good.indexOf("LCM IMAGE");
    cases.push_back({"display data length", with(imageAt + 17, hex("FF FF FF 7F")), "display data length"});
    for (const auto& c : cases) {
        TLCMPanels project;
        project.AddPanel()->name = "keep me";
        const auto r = DecodeProject(c.bytes, project, "damaged.lcm");
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_TRUE(r.message.contains("damaged.lcm")) << c.what;
        EXPECT_TRUE(r.message.contains(c.says)) << c.what << ": " << r.message.toStdString();
        EXPECT_GE(r.offset, 0) << c.what;
        ASSERT_EQ(project.Count(), 1) << c.what;
        EXPECT_EQ(project.GetPanel(0)->name, "keep me") << c.what;
    }
}

TEST(ProjectFile, EveryTruncationIsRefused)
{
    TLCMPanels source;
    fillEveryKind(source);
    const QByteArray good = EncodeProject(source);
    for (qsizetype n = 0; n < good.size(); n += (n < 400 ? 1 : 97)) {
        TLCMPanels project;
        const auto r = DecodeProject(good.left(n), project, "cut.lcm");
        ASSERT_FALSE(r.ok) << "cut at " << n;
        EXPECT_EQ(project.Count(), 0);
    }
}

class ProjectFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return dir.path() + "/" + name; }
    QTemporaryDir dir;
};

TEST_F(ProjectFiles, SaveAndLoad)
{
    TLCMPanels project;
    fillEveryKind(project);
    ASSERT_TRUE(SaveProject(project, path("p.lcm")).ok);
    TLCMPanels loaded;
    const auto r = LoadProject(path("p.lcm"), loaded);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(EncodeProject(loaded), EncodeProject(project));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"p.lcm"}) << "no temporary file left";
}

TEST_F(ProjectFiles, FailedSavesAreReportedAndKeepTheOldFile)
{
    TLCMPanels project;
    project.AddPanel();
    ASSERT_TRUE(SaveProject(project, path("p.lcm")).ok);
    QFile f(path("p.lcm"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();

    auto* r = static_cast<TLCMRtf*>(project.GetPanel(0)->units->Append(KindRtf));
    r->Document() = QByteArray(70000, 'x');
    const auto result = SaveProject(project, path("p.lcm"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.message.contains("65535")) << result.message.toStdString();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);

    const auto noDir = SaveProject(project, path("missing/p.lcm"));
    EXPECT_FALSE(noDir.ok);
    EXPECT_TRUE(noDir.message.contains("missing")) << noDir.message.toStdString();
}

TEST_F(ProjectFiles, MissingFileIsAClearError)
{
    TLCMPanels project;
    const auto r = LoadProject(path("none.lcm"), project);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains("none.lcm"));
}

} // namespace

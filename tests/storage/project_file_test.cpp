#include "model/imagepage.h"
#include "render/picture_page.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"
#include "storage/project_file.h"
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

// The file of a project whose one screen was just created: written out from the record
// layout by hand, as the other tool writes it.
QByteArray newProjectFile()
{
    QByteArray f = hex("01 00");                                            // one screen
    f += tag("LCM PANEL");
    f += hex("01 00 00 00");                                                // port 1
    f += hex("08 08 01 00 00 00 00 00 00 00 00 00 00 00 00 00");            // 64 x 64, one colour
    f += hex("01 00 00 00");                                                // address 1, padding
    f += hex("06 00 55 00 6E 00 6B 00 6F 00 77 00 6E 00");                  // "Unkown"
    f += hex("03 00 31 00 F7 53 4F 5C");                                    // "1号屏"
    f += tag("LCM PARTI");
    f += hex("00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 40 00 00 00 40 00 00 00");
    f += hex("00 00 00 00");                                                // no pages
    return f;
}

// Where newProjectFile() keeps its fields.
constexpr qsizetype kAddressAt = 2 + 16 + 4 + 16;
constexpr qsizetype kVersionAt = kAddressAt + 4;
constexpr qsizetype kPageCountAt = 104;

// The project of fillEveryKind() as the file holds it, written once and checked by a walk of
// the record layout: one screen with a page of every kind, a 64 x 32 BMP among them. A change
// of the writer shows here as a change of the file format.
const QString kEveryKindPath = QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/projects/every-kind.lcm");

QByteArray everyKindFile()
{
    QFile f(kEveryKindPath);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << kEveryKindPath.toStdString();
    return f.readAll();
}

// Equal, or the first byte that differs.
::testing::AssertionResult SameBytes(const QByteArray& got, const QByteArray& want)
{
    if (got == want)
        return ::testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return ::testing::AssertionFailure() << "differs from byte " << at << " on: " << got.mid(at, 16).toHex(' ').toStdString()
                                         << " where the file has " << want.mid(at, 16).toHex(' ').toStdString() << " ("
                                         << got.size() << " bytes, the file " << want.size() << ")";
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
    const QByteArray file = everyKindFile();
    ASSERT_EQ(file.size(), 7811);
    TLCMPanels project;
    fillEveryKind(project);
    EXPECT_TRUE(SameBytes(EncodeProject(project), file));

    TLCMPanels loaded;
    const auto result = DecodeProject(file, loaded, "all.lcm");
    ASSERT_TRUE(result.ok) << result.message.toStdString();
    EXPECT_TRUE(SameBytes(EncodeProject(loaded), file));

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
    ASSERT_EQ(img->DisplayData().size(), 64 * 32 / 8 * 2);
    // The red plane's row 4 holds the one lit dot, x = 3; the green plane is dark.
    EXPECT_EQ(img->DisplayData().count('\0'), 511);
    EXPECT_EQ(img->DisplayData()[4 * 8], '\x10');
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
    QByteArray bytes = EncodeProject(project);
    EXPECT_EQ(bytes.size() - empty, 2 + 18 + 56);
    EXPECT_EQ(bytes.mid(empty, 2 + 18).toHex(' '), (hex("09 80") + tag("LCM TEXTEX", 18)).toHex(' '));
    s->units->Clear();
    s->units->Append(KindImage); // no picture at all
    bytes = EncodeProject(project);
    EXPECT_EQ(bytes.size() - empty, 2 + 16 + 1 + 4 + 4 + 4 + 4 + 56);
    // Kind, tag, reserved byte, then no display data, a 0 x 0 picture and no BMP bytes.
    EXPECT_EQ(bytes.mid(empty, 2 + 16 + 17).toHex(' '),
              (hex("03 80") + tag("LCM IMAGE") + hex("00  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00")).toHex(' '));
}

TEST(ProjectFile, LoadResetsVersionAndKeepsStoredAddresses)
{
    // Two screens at addresses 9 and 0x0102, the second holding the version text "V2".
    QByteArray second = newProjectFile().mid(2);
    second.replace(kAddressAt - 2, 2, hex("02 01"));
    second.replace(kVersionAt - 2, 14, hex("02 00 56 00 32 00"));
    QByteArray file = newProjectFile() + second;
    file[0] = 2;
    file.replace(kAddressAt, 2, hex("09 00"));
    TLCMPanels loaded;
    const auto r = DecodeProject(file, loaded, "x");
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.GetPanel(0)->address, 9);
    EXPECT_EQ(loaded.GetPanel(1)->address, 0x0102);
    EXPECT_EQ(loaded.GetPanel(0)->versionText, "Unkown");
    EXPECT_EQ(loaded.GetPanel(1)->versionText, "Unkown") << "the version belongs to the card";
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
    struct Case { const char* stored; int loaded; };
    const Case cases[] = {{"FB FF FF FF", 1}, {"00 00 00 00", 1}, {"07 00 00 00", 7}, {"1E 00 00 00", 30}, {"F4 01 00 00", 30}};
    for (const Case& c : cases) {
        // One rich-text page: no document, no caption, a property record of zeros.
        QByteArray file = newProjectFile();
        file.replace(kPageCountAt, 4, hex("01 00 00 00"));
        file += hex("02 80") + tag("LCM RTF ") + hex("00") + hex(c.stored) + hex("00 00  00 00") + QByteArray(56, '\0');
        TLCMPanels loaded;
        const auto r = DecodeProject(file, loaded, "x");
        ASSERT_TRUE(r.ok) << c.stored << ": " << r.message.toStdString();
        EXPECT_EQ(static_cast<TLCMRtf*>(loaded.GetPanel(0)->units->GetPage(0))->ledPageCount, c.loaded) << c.stored;
    }
}

// Damaged files: every one is refused with the file's name and the offset of the fault, and
// leaves the project as it was. A wrong tag is reported where it starts, a wrong count or
// length where it ends, a short read where it begins.
TEST(ProjectFile, DamagedFilesLeaveTheProjectAlone)
{
    const QByteArray good = everyKindFile();
    ASSERT_EQ(good.size(), 7811);
    struct Case { const char* what; QByteArray bytes; const char* says; qsizetype offset; };
    std::vector<Case> cases;
    auto with = [&](qsizetype at, const QByteArray& patch) {
        QByteArray b = good;
        b.replace(at, patch.size(), patch);
        return b;
    };
    // The partition record at 64 (tag, type, rectangle count at 84, two rectangles), the page
    // count at 120, the first page's kind at 124; the picture page's kind at 590, its display
    // data length at 609, its 512 bytes of data, width, height and BMP length at 1133.
    ASSERT_EQ(good.mid(64, 9), "LCM PARTI");
    ASSERT_EQ(good.mid(120, 6).toHex(' '), "07 00 00 00 01 80");
    ASSERT_EQ(good.mid(590, 11), "\x03\x80LCM IMAGE");
    ASSERT_EQ(good.mid(1125, 12).toHex(' '), "40 00 00 00 20 00 00 00 36 18 00 00");
    cases.push_back({"empty", QByteArray(), "ends", 0});
    cases.push_back({"bad screen tag", with(2, "LCM PANEX"), "LCM PANEL", 2});
    cases.push_back({"bad partition tag", with(64, "XCM"), "LCM PARTI", 64});
    cases.push_back({"huge screen count", with(0, hex("FF FF")), "screen count", 2});
    cases.push_back({"negative page count", with(120, hex("FF FF FF FF")), "page count", 124});
    cases.push_back({"page count past the file", with(120, hex("E8 03 00 00")), "page count", 124});
    cases.push_back({"unknown kind", with(124, hex("05 80")), "0x8005", 126});
    cases.push_back({"rect count", with(84, hex("00 00 00 40")), "rectangle count", 88});
    cases.push_back({"trailing bytes", good + "junk", "4 bytes follow the last screen", 7811});
    cases.push_back({"display data length", with(609, hex("FF FF FF 7F")), "display data length", 613});
    cases.push_back({"cut before the pages", good.left(600), "page count: 7 records cannot fit", 124});
    cases.push_back({"cut in the picture", good.left(2000), "picture length: 6198 records cannot fit in the 863 bytes", 1137});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TLCMPanels project;
        project.AddPanel()->name = "keep me";
        const auto r = DecodeProject(c.bytes, project, "damaged.lcm");
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.startsWith(QStringLiteral("damaged.lcm is damaged at byte %1: ").arg(c.offset)))
            << r.message.toStdString();
        EXPECT_TRUE(r.message.contains(c.says)) << r.message.toStdString();
        EXPECT_EQ(r.offset, c.offset);
        ASSERT_EQ(project.Count(), 1);
        EXPECT_EQ(project.GetPanel(0)->name, "keep me");
    }
}

TEST(ProjectFile, EveryTruncationIsRefused)
{
    const QByteArray good = everyKindFile();
    ASSERT_EQ(good.size(), 7811);
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
    QFile saved(path("p.lcm"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(SameBytes(saved.readAll(), everyKindFile()));
    EXPECT_TRUE(SameBytes(EncodeProject(loaded), everyKindFile()));
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

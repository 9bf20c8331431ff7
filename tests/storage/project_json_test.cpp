#include "sample_project.h"
#include "storage/project_json.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mx;

namespace {

TEST(ProjectJson, LcmToJsonToLcmGivesTheSameBytes)
{
    TLCMPanels project;
    mxtest::fillEveryKind(project);
    project.AddPanel()->name = "second";
    const QByteArray lcm = EncodeProject(project);
    TLCMPanels loaded;
    ASSERT_TRUE(DecodeProject(lcm, loaded, "x.lcm").ok);

    const QByteArray json = ProjectToJson(loaded);
    TLCMPanels back;
    const auto r = ProjectFromJson(json, back, "x.json");
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(EncodeProject(back), lcm);
    EXPECT_EQ(ProjectToJson(back), json);
}

TEST(ProjectJson, ReadableFieldsAreEditable)
{
    TLCMPanels project;
    mxtest::fillEveryKind(project);
    QJsonObject root = QJsonDocument::fromJson(ProjectToJson(project)).object();
    QJsonArray screens = root["screens"].toArray();
    QJsonObject s0 = screens[0].toObject();
    QJsonArray pages = s0["pages"].toArray();
    QJsonObject text = pages[0].toObject();
    ASSERT_EQ(text["kind"], "text");
    QJsonObject props = text["properties"].toObject();
    EXPECT_EQ(props["startDate"], "2025-03-04");
    props["speed"] = 3;
    props["startTime"] = "10:07:09";
    props["clearPanel"] = true;
    text["properties"] = props;
    text["lines"] = QJsonArray{"edited"};
    pages[0] = text;
    s0["pages"] = pages;
    QJsonObject params = s0["params"].toObject();
    params["width"] = 256;
    s0["params"] = params;
    screens[0] = s0;
    root["screens"] = screens;

    TLCMPanels back;
    ASSERT_TRUE(ProjectFromJson(QJsonDocument(root).toJson(), back, "e.json").ok);
    const TLCMPanel& s = *back.GetPanel(0);
    EXPECT_EQ(s.params[0], 32);
    auto* t = static_cast<TLCMText*>(s.units->GetPage(0));
    EXPECT_EQ(t->lines, QStringList{"edited"});
    EXPECT_EQ(t->U8(Rec::Speed), 3);
    EXPECT_EQ(LcmTime(t->F64(Rec::StartTime)), QTime(10, 7, 9));
    EXPECT_EQ(t->U8(Rec::PartitionClear) & 0x80, 0x80);
    EXPECT_EQ(t->GetPartition(), 1);
}

TEST(ProjectJson, AHandWrittenProject)
{
    QTemporaryDir dir;
    QImage pic(100, 50, QImage::Format_RGB888);
    pic.fill(Qt::green);
    ASSERT_TRUE(pic.save(dir.filePath("logo.bmp"), "BMP"));
    const QByteArray json = R"({
        "marquix": 1,
        "screens": [{
            "params": {"width": 128, "height": 32, "colourType": 2},
            "partition": {"type": 1, "rects": [[0, 0, 64, 32], [64, 0, 128, 32]]},
            "pages": [
                {"kind": "text", "lines": ["Hello"], "properties": {"partition": 1, "colour": 3}},
                {"kind": "countdown", "digitCount": 2, "targetDate": "2026-01-01", "properties": {"partition": 2}},
                {"kind": "picture", "pictureFile": "logo.bmp", "properties": {"partition": 2}}
            ]
        }]
    })";
    TLCMPanels project;
    const auto r = ProjectFromJson(json, project, "hand.json", dir.path());
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    const TLCMPanel& s = *project.GetPanel(0);
    EXPECT_EQ(s.name, QStringLiteral("1号屏"));
    EXPECT_EQ(s.address, 1);
    ASSERT_EQ(s.units->GetCount(), 3);
    EXPECT_EQ(s.units->GetPage(0)->U8(Rec::Colour), 3);
    auto* c = static_cast<TLCMConter*>(s.units->GetPage(1));
    EXPECT_EQ(LcmDate(c->targetDate), QDate(2026, 1, 1));
    auto* img = static_cast<TLCMImage*>(s.units->GetPage(2));
    EXPECT_EQ(img->Picture().size(), QSize(64, 32));
    EXPECT_EQ(img->DisplayData().size(), 64 * 32 / 8 * 2);
    EXPECT_EQ(img->Picture().pixelColor(5, 5), QColor(0, 255, 0));
}

TEST(ProjectJson, BadDocumentsSayWhereAndChangeNothing)
{
    struct Case { QByteArray json; const char* says; };
    const std::vector<Case> cases = {
        {"{", "not JSON"},
        {"[]", "JSON object"},
        {R"({"screens": []})", "Marquix project"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "movie"}]}]})", "screens[0].pages[0].kind"},
        {R"({"marquix": 1, "screens": [{"params": {"width": 100}}]})", "multiple of 8"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"speed": 300}}]}]})", "speed"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"record": "00"}}]}]})", "56 bytes"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "picture", "pictureFile": "none.bmp"}]}]})", "none.bmp"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "countdown", "targetDate": "soon"}]}]})", "targetDate"},
        {R"({"marquix": 2, "screens": []})", "understands version 1"},
        {R"({"marquix": "1", "screens": []})", "understands version 1"},
        // base64 and hexadecimal with stray characters
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "richText", "rtfBase64": "e1xydGYx*fQ=="}]}]})",
         "screens[0].pages[0].rtfBase64"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "picture", "displayData": "AAAA!", "pictureBmp": "", "pictureWidth": 0, "pictureHeight": 0}]}]})",
         "screens[0].pages[0].displayData"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "picture", "displayData": "", "pictureBmp": "Qk0=Qk0=", "pictureWidth": 0, "pictureHeight": 0}]}]})",
         "screens[0].pages[0].pictureBmp"},
        {R"({"marquix": 1, "screens": [{"params": {"record": "08 08 01 00 00 00 00 00 00 00 00 00 00 00 00 00 zz"}}]})",
         "16 bytes"},
        // named properties outside their documented ranges
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"speed": 16}}]}]})",
         "screens[0].pages[0].properties.speed"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"effect": 20}}]}]})",
         "screens[0].pages[0].properties.effect"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"flash": 3}}]}]})",
         "screens[0].pages[0].properties.flash"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"flashCycle": 1}}]}]})",
         "screens[0].pages[0].properties.flashCycle"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"colour": 0}}]}]})",
         "screens[0].pages[0].properties.colour"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"colour": 7}}]}]})",
         "screens[0].pages[0].properties.colour"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "richText", "ledPageCount": 500}]}]})",
         "screens[0].pages[0].ledPageCount"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "richText", "ledPageCount": -5}]}]})",
         "screens[0].pages[0].ledPageCount"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"displayType": 7}}]}]})",
         "screens[0].pages[0].properties.displayType"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "text", "properties": {"partition": 5}}]}]})",
         "screens[0].pages[0].properties.partition"},
        {R"({"marquix": 1, "screens": [{"pages": [{"kind": "richText", "pagingDirection": "diagonal"}]}]})",
         "screens[0].pages[0].pagingDirection"},
        // partition rectangles off the 8-dot grid, outside the screen, or empty
        {R"({"marquix": 1, "screens": [{"params": {"width": 128, "height": 32},
             "partition": {"type": 1, "rects": [[0, 0, 60, 32], [60, 0, 128, 32]]}}]})",
         "screens[0].partition.rects[0]"},
        {R"({"marquix": 1, "screens": [{"params": {"width": 128, "height": 32},
             "partition": {"type": 1, "rects": [[0, 0, 64, 32], [64, 0, 136, 32]]}}]})",
         "screens[0].partition.rects[1]"},
        {R"({"marquix": 1, "screens": [{"params": {"width": 128, "height": 32},
             "partition": {"type": 2, "rects": [[0, -8, 128, 16], [0, 16, 128, 32]]}}]})",
         "screens[0].partition.rects[0]"},
        {R"({"marquix": 1, "screens": [{"partition": {"type": 0, "rects": [[8, 8, 8, 16]]}}]})",
         "screens[0].partition.rects[0]"},
    };
    for (const auto& c : cases) {
        TLCMPanels project;
        project.AddPanel()->name = "keep";
        const auto r = ProjectFromJson(c.json, project, "bad.json");
        EXPECT_FALSE(r.ok) << c.json.toStdString();
        EXPECT_TRUE(r.message.contains(c.says)) << r.message.toStdString();
        EXPECT_TRUE(r.message.startsWith("bad.json")) << r.message.toStdString();
        ASSERT_EQ(project.Count(), 1);
        EXPECT_EQ(project.GetPanel(0)->name, "keep");
    }
}

// Files named by the JSON: copies of fixtures other programs wrote, next to the document.
class JsonNamedFiles : public ::testing::Test {
protected:
    QString copy(const QString& fixture, const QString& as)
    {
        QDir().mkpath(QFileInfo(dir.filePath(as)).absolutePath());
        EXPECT_TRUE(QFile::copy(QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/") + fixture, dir.filePath(as)));
        return dir.filePath(as);
    }
    QString write(const QString& as, const QByteArray& bytes)
    {
        QFile f(dir.filePath(as));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }
    static QByteArray oneScreen(const QString& page)
    {
        return QStringLiteral(R"({"marquix": 1, "screens": [{"params": {"width": 64, "height": 16, "colourType": 3},
            "pages": [%1]}]})").arg(page).toUtf8();
    }
    QTemporaryDir dir;
};

TEST_F(JsonNamedFiles, RichTextPageReadsItsRtfFileRelativeToTheDocument)
{
    const QString path = copy("rtf/wordpad_gbk.rtf", "texts/welcome.rtf");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    TLCMPanels project;
    const auto r = ProjectFromJson(oneScreen(R"({"kind": "richText", "rtfFile": "texts/welcome.rtf",
        "pagingDirection": "vertical"})"), project, "p.json", dir.path());
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    const auto& page = static_cast<const TLCMRtf&>(*project.GetPanel(0)->units->GetPage(0));
    EXPECT_EQ(page.Document(), bytes) << "kept byte for byte, as the editor's open keeps a file";
    EXPECT_EQ(page.pagingDirection, 1);
    // Written out, the page carries its document; the file is no longer needed.
    TLCMPanels back;
    ASSERT_TRUE(ProjectFromJson(ProjectToJson(project), back, "back.json").ok);
    EXPECT_EQ(static_cast<const TLCMRtf&>(*back.GetPanel(0)->units->GetPage(0)).Document(), bytes);
}

TEST_F(JsonNamedFiles, BadRtfFilesAreRefusedByName)
{
    write("notes.txt", "plain words, no rich text");
    write("huge.rtf", "{\\rtf1 " + QByteArray(70000, 'a') + "}");
    copy("rtf/lo_plain.rtf", "ok.rtf");
    struct Case {
        const char* page;
        const char* says;
    };
    const Case cases[] = {
        {R"({"kind": "richText", "rtfFile": "missing.rtf"})", "missing.rtf"},
        {R"({"kind": "richText", "rtfFile": "notes.txt"})", "notes.txt"},
        {R"({"kind": "richText", "rtfFile": "huge.rtf"})", "huge.rtf"},
        {R"({"kind": "richText", "rtfFile": "."})", "not a regular file"},
        {R"({"kind": "richText", "rtfFile": "ok.rtf", "rtf": "{\\rtf1 x}"})", "rtfFile"},
        {R"({"kind": "richText", "rtfFile": 5})", "rtfFile must be a text"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        TLCMPanels project;
        project.AddPanel()->name = "keep";
        const auto r = ProjectFromJson(oneScreen(c.page), project, "p.json", dir.path());
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.message.contains(c.says)) << r.message.toStdString();
        EXPECT_TRUE(r.message.contains("screens[0].pages[0]")) << r.message.toStdString();
        EXPECT_EQ(project.GetPanel(0)->name, "keep");
    }
}

TEST_F(JsonNamedFiles, JpegPicturesLoadByAnySpellingOfTheirExtension)
{
    // baseline.jpg was written by cjpeg: red, green, blue and white quadrants.
    for (const char* name : {"a.jpg", "b.jpeg", "c.JPEG", "d.Jpg"}) {
        SCOPED_TRACE(name);
        copy("pictures/baseline.jpg", name);
        TLCMPanels project;
        const auto r = ProjectFromJson(oneScreen(QStringLiteral(R"({"kind": "picture", "pictureFile": "%1"})").arg(name)),
                                       project, "p.json", dir.path());
        ASSERT_TRUE(r.ok) << r.message.toStdString();
        const auto& img = static_cast<const TLCMImage&>(*project.GetPanel(0)->units->GetPage(0));
        EXPECT_EQ(img.DisplayData().size(), 64 * 16 / 8 * 3);
        EXPECT_EQ(img.Picture().pixelColor(2, 2), QColor(Qt::red));
        EXPECT_EQ(img.Picture().pixelColor(61, 13), QColor(Qt::white));
    }
}

TEST(ProjectJson, DocumentedEdgesAreAccepted)
{
    const QByteArray json = R"({
        "marquix": 1,
        "screens": [{
            "params": {"width": 128, "height": 32, "colourType": 2},
            "partition": {"type": 1, "rects": [[0, 0, 8, 32], [8, 0, 128, 32]]},
            "pages": [
                {"kind": "text", "properties": {"partition": 2, "speed": 15, "effect": 19, "flash": 2,
                 "flashCycle": 2, "colour": 3, "displayType": 6}},
                {"kind": "text", "properties": {"partition": 1, "speed": 0, "effect": 0, "flash": 0,
                 "flashCycle": 255, "colour": 1}},
                {"kind": "richText", "pagingDirection": "vertical",
                 "rtfBase64": "e1xydGYxIHNpZ259\nAA==\n"}
            ]
        }]
    })";
    TLCMPanels project;
    const auto r = ProjectFromJson(json, project, "edges.json");
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    const TLCMPanel& s = *project.GetPanel(0);
    EXPECT_EQ(s.partition->Rects().size(), 2);
    const TLCMSendMsg& a = *s.units->GetPage(0);
    EXPECT_EQ(a.U8(Rec::Speed), 15);
    EXPECT_EQ(a.U8(Rec::BorderFlash) & 0x0F, 2);
    EXPECT_EQ(a.U8(Rec::Colour), 3);
    const auto& rtf = static_cast<const TLCMRtf&>(*s.units->GetPage(2));
    EXPECT_EQ(rtf.pagingDirection, 1);
    // base64 broken into lines, as the base64 tool writes it
    EXPECT_EQ(rtf.Document(), QByteArray("{\\rtf1 sign}\0", 13));
}

TEST(ProjectJson, StoredRecordsOutsideTheNamedRangesStillConvertBack)
{
    // A project file may hold values the named fields refuse (a colour of 7); its JSON, whose
    // named fields agree with the record, converts back unchanged.
    TLCMPanels project;
    mxtest::fillEveryKind(project);
    TLCMSendMsg& page = *project.GetPanel(0)->units->GetPage(0);
    page.SetU8(Rec::Colour, 7);
    page.SetU8(Rec::Speed, 40);
    const QByteArray lcm = EncodeProject(project);
    TLCMPanels back;
    const auto r = ProjectFromJson(ProjectToJson(project), back, "x.json");
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(EncodeProject(back), lcm);
}

} // namespace

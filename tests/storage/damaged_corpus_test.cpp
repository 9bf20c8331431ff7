#include "model/imagepage.h"
#include "model/panel.h"
#include "storage/project_file.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <map>

namespace {

struct Refusal {
    qsizetype offset;
    const char* says;
};

// What each damaged file must be refused for. The files are the shop example (one screen,
// three rectangles, page count at 136, six pages) with a few bytes changed or cut; a count is
// reported where it ends, a short read where it begins. A cut file whose screen cannot hold a
// whole screen record is refused at its screen count, before the cut is reached.
const std::map<QString, Refusal> kRefusals = {
    {"cut-in-name.lcm", {2, "screen count: 1 records cannot fit in the 57 bytes left"}},
    {"cut-in-picture.lcm", {1425, "page 6 (kind 0x8003, from byte 878): picture length: 6198 records cannot fit in the 6054 bytes left"}},
    {"cut-in-screen-tag.lcm", {2, "screen count: 1 records cannot fit in the 7 bytes left"}},
    {"display-data-huge.lcm", {901, "page 6 (kind 0x8003, from byte 878): display data length: 2147483392 is not a plausible count"}},
    {"empty.lcm", {0, "16-bit value: the file ends after 0 of 2 bytes"}},
    {"one-byte.lcm", {0, "16-bit value: the file ends after 1 of 2 bytes"}},
    {"page-count-huge.lcm", {140, "screen 1 (from byte 2): page count: 2147483647 is not a plausible count"}},
    {"picture-length-negative.lcm", {1425, "page 6 (kind 0x8003, from byte 878): picture length: -5 is not a plausible count"}},
    {"rect-count-huge.lcm", {88, "rectangle count: 1073741824 is not a plausible count"}},
    {"rect-count-negative.lcm", {88, "rectangle count: -1 is not a plausible count"}},
    {"rtf-length-past-end.lcm", {535, "page 5 (kind 0x8002, from byte 510): rich-text document: the file ends after 7144 of 65535 bytes"}},
    {"screen-count-huge.lcm", {2, "screen count: 65535 is not a plausible count"}},
    {"text-length-huge.lcm", {162, "page 1 (kind 0x8001, from byte 140): text lines: the file ends after 7517 of 131070 bytes"}},
    {"text-list-count-huge.lcm", {160, "page 1 (kind 0x8001, from byte 140): text lines: 65535 records cannot fit"}},
    {"trailing-bytes.lcm", {7679, "1 bytes follow the last screen"}},
    {"unknown-kind.lcm", {142, "page 1 has the kind 0x8005, which names no page type"}},
};

// Sound as a file: only its stored picture does not decode.
const QString kAcceptedFile = QStringLiteral("picture-bmp-garbage.lcm");

const QString kCorpus = QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/fuzz/project");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

TEST(DamagedProjects, EveryFileOfTheCorpusIsRefusedForItsFault)
{
    const QStringList files = QDir(kCorpus).entryList({"*.lcm"}, QDir::Files);
    for (const auto& [name, refusal] : kRefusals)
        EXPECT_TRUE(files.contains(name)) << name.toStdString() << " is listed but missing";
    for (const QString& name : files) {
        if (name == kAcceptedFile)
            continue;
        SCOPED_TRACE(name.toStdString());
        const auto it = kRefusals.find(name);
        ASSERT_NE(it, kRefusals.end()) << "a file of the corpus without its reason in the table";
        mx::TLCMPanels project;
        project.AddPanel()->name = "before";
        const auto r = mx::DecodeProject(readAll(kCorpus + u'/' + name), project, name);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.offset, it->second.offset);
        EXPECT_TRUE(r.message.startsWith(QStringLiteral("%1 is damaged at byte %2: ").arg(name).arg(it->second.offset)))
            << r.message.toStdString();
        EXPECT_TRUE(r.message.contains(QString::fromUtf8(it->second.says))) << r.message.toStdString();
        ASSERT_EQ(project.Count(), 1);
        EXPECT_EQ(project.GetPanel(0)->name, "before");
    }
}

TEST(DamagedProjects, APictureThatDoesNotDecodeKeepsItsBytes)
{
    const QByteArray bytes = readAll(kCorpus + u'/' + kAcceptedFile);
    mx::TLCMPanels project;
    const auto r = mx::DecodeProject(bytes, project, kAcceptedFile);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    ASSERT_EQ(project.Count(), 1);
    ASSERT_EQ(project.GetPanel(0)->units->GetCount(), 6);
    auto* picture = static_cast<mx::TLCMImage*>(project.GetPanel(0)->units->GetPage(5));
    ASSERT_EQ(picture->kind, mx::KindImage);
    EXPECT_TRUE(picture->Picture().isNull()) << "nothing to show";
    EXPECT_EQ(picture->StoredPicture().bmp.left(2), "XX");
    QString error;
    EXPECT_EQ(mx::EncodeProject(project, &error), bytes) << "saved back as it was";
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
}

} // namespace

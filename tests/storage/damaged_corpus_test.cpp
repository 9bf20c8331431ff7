#include "model/panel.h"
#include "storage/project_file.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(DamagedProjects, EveryFileOfTheCorpusIsRefusedWithAMessage)
{
    QDir dir(QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/fuzz/project"));
    const QStringList files = dir.entryList({"*.lcm"}, QDir::Files);
    ASSERT_GE(files.size(), 10);
    for (const QString& name : files) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        mx::TLCMPanels project;
        project.AddPanel()->name = "before";
        const auto r = mx::DecodeProject(f.readAll(), project, name);
        // picture-bmp-garbage.lcm is sound as a file: only its picture does not decode.
        if (name == "picture-bmp-garbage.lcm") {
            ASSERT_TRUE(r.ok) << r.message.toStdString();
            QString error;
            EXPECT_FALSE(mx::EncodeProject(project, &error).isEmpty()) << "saved back as it was";
            continue;
        }
        EXPECT_FALSE(r.ok) << name.toStdString();
        EXPECT_TRUE(r.message.startsWith(name)) << r.message.toStdString();
        ASSERT_EQ(project.Count(), 1) << name.toStdString();
        EXPECT_EQ(project.GetPanel(0)->name, "before");
    }
}

} // namespace

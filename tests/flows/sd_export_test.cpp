#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/text.h"
#include "flows/sd_export.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace mx;

namespace {

class SdExport : public ::testing::Test {
protected:
    QByteArray file() const
    {
        QFile f(dir.filePath("led.sd"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static uint8_t command(const QByteArray& bytes, int block) { return uint8_t(bytes[block * 2048 + 13]); }
    static int programNumber(const QByteArray& bytes, int block)
    {
        return uint8_t(bytes[block * 2048 + 16]) | uint8_t(bytes[block * 2048 + 17]) << 8;
    }
    // An rtf page of n LED pages, one block each.
    TLCMRtf* rtf(int n)
    {
        auto* p = static_cast<TLCMRtf*>(screen->units->Append(KindRtf));
        for (int i = 0; i < n; ++i)
            p->AddLedPage(QByteArray(128, char(i)));
        return p;
    }

    // The LED pages a test made stand for a render.
    static bool keep(TLCMRtf&, TLCMPanel&, QString*) { return true; }

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    TLCMPanels project;
    TLCMPanel* screen = project.AddPanel();
};

TEST_F(SdExport, OneTextPageGivesFourBlocks)
{
    screen->address = 3;
    screen->units->Append(KindText);
    const auto r = ExportSd(*screen, tmp.path(), keep);
    ASSERT_TRUE(r.ok) << r.message.toStdString();
    EXPECT_EQ(r.message, QStringLiteral("保存成功。"));
    const QByteArray bytes = file();
    ASSERT_EQ(bytes.size(), 8192);
    EXPECT_EQ(command(bytes, 0), 0x23);
    EXPECT_EQ(command(bytes, 1), 0x29);
    EXPECT_EQ(command(bytes, 2), 0x03);
    EXPECT_EQ(programNumber(bytes, 2), 1);
    EXPECT_EQ(command(bytes, 3), 0x19);
    EXPECT_EQ(uint8_t(bytes[3 * 2048 + 16]), 1);
    for (int b = 0; b < 4; ++b) {
        EXPECT_EQ(uint8_t(bytes[b * 2048]), 0xA0);
        EXPECT_EQ(uint8_t(bytes[b * 2048 + 3]), 3) << "the screen's address in every packet";
        const int len = uint8_t(bytes[b * 2048 + 1]) | uint8_t(bytes[b * 2048 + 2]) << 8;
        EXPECT_EQ(uint8_t(bytes[b * 2048 + len - 1]), 0x50);
        EXPECT_EQ(bytes.mid(b * 2048 + len, 2048 - len), QByteArray(2048 - len, '\0'));
    }
}

TEST_F(SdExport, NoPagesNoFile)
{
    const auto r = ExportSd(*screen, tmp.path(), keep);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.written);
    EXPECT_FALSE(QFile::exists(dir.filePath("led.sd")));
}

TEST_F(SdExport, ProgramNumbersFollowTheSlotsUsed)
{
    screen->units->Append(KindText);
    rtf(3);
    screen->units->Append(KindText);
    ASSERT_TRUE(ExportSd(*screen, tmp.path(), keep).ok);
    const QByteArray bytes = file();
    ASSERT_EQ(bytes.size(), (2 + 1 + 3 + 1 + 1) * 2048);
    std::vector<int> numbers;
    for (int b = 2; b < 7; ++b)
        numbers.push_back(programNumber(bytes, b));
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(SdExport, SeventyNineSlotsFitEightyDoNot)
{
    for (int i = 0; i < 2; ++i)
        rtf(30);
    rtf(19); // 79 slots in all
    ASSERT_TRUE(ExportSd(*screen, tmp.path(), keep).ok);
    EXPECT_EQ(file().size(), (2 + 79 + 1) * 2048);

    // Once the next number reaches 80 the export stops: later pages are left out, and said so.
    rtf(1);
    screen->units->Append(KindText);
    const auto r = ExportSd(*screen, tmp.path(), keep);
    EXPECT_FALSE(r.ok) << "pages left out are not a success";
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.missing.size(), 2);
    EXPECT_TRUE(r.message.contains(QStringLiteral("节目数量超出范围."))) << r.message.toStdString();
    EXPECT_EQ(file().size(), (2 + 79 + 1) * 2048);
}

TEST_F(SdExport, ARichTextPageCutAtTheLastSlotIsReported)
{
    for (int i = 0; i < 4; ++i)
        rtf(26); // the fourth page gets one slot of its 26
    const auto r = ExportSd(*screen, tmp.path(), keep);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.written);
    EXPECT_EQ(file().size(), (2 + 79 + 1) * 2048);
    EXPECT_EQ(r.missing, QStringList{"page 4 (欢迎你!)"});
    EXPECT_TRUE(r.message.contains(QStringLiteral("节目数量超出范围. page 4"))) << r.message.toStdString();
    EXPECT_FALSE(r.message.contains(QStringLiteral("范围.."))) << "one full stop";
}

TEST_F(SdExport, APageThatCannotBeExportedWritesNothing)
{
    screen->units->Append(KindText);
    screen->units->Append(KindTimerEx);
    screen->units->Append(KindText);
    const auto r = ExportSd(*screen, tmp.path(), keep);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.written);
    EXPECT_TRUE(r.message.contains("page 2") && r.message.contains("dial")) << r.message.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("led.sd")));
}

TEST_F(SdExport, AFolderThatCannotTakeTheFileIsReported)
{
    screen->units->Append(KindText);
    const auto r = ExportSd(*screen, tmp.path() + "/no/such/folder");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.written);
    EXPECT_TRUE(r.message.contains("led.sd")) << r.message.toStdString();
}

TEST_F(SdExport, RichTextIsLaidOutFirst)
{
    auto* page = rtf(0);
    int calls = 0;
    const auto render = [&](TLCMRtf& p, TLCMPanel&, QString*) {
        ++calls;
        p.ClearLedPages();
        p.AddLedPage(QByteArray(512, 'x'));
        return true;
    };
    ASSERT_TRUE(ExportSd(*screen, tmp.path(), render).ok);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(page->LedPageEntries(), 1);
    EXPECT_EQ(file().size(), 4 * 2048);

    const auto refuse = [](TLCMRtf&, TLCMPanel&, QString* why) {
        *why = "too big";
        return false;
    };
    const auto r = ExportSd(*screen, tmp.path(), refuse);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.message.contains("too big"));
}

} // namespace

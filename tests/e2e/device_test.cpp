#include "model/imagepage.h"
#include "render/picture_page.h"
#include "model/rtfpage.h"
#include "model/text.h"
#include "simfixture.h"
#include "testutil.h"

#include <QBuffer>
#include <QElapsedTimer>

using namespace mx;

namespace {

using Device = SimLink;

TEST_F(Device, ConnectReadsVersionParametersAndPartitions)
{
    card.SetVersion({0x10, 0x02, 0x01, 0x0A});
    card.SetParams({16, 4, 2, 1, 0, 3});
    std::array<uint8_t, 32> table{1, 0, 0, 8, 4, 0, 0, 0, 1, 8, 0, 8, 4};
    card.SetPartitions(table);
    ASSERT_TRUE(screen->Connect(true));
    EXPECT_EQ(screen->versionText, "ZELT-10 V2 .1 .A");
    EXPECT_EQ(screen->params, (ParamRecord{16, 4, 2, 1, 0, 3}));
    EXPECT_EQ(screen->partition->type, PartitionLR);
    EXPECT_EQ(screen->partition->GetCount(), 2);
    EXPECT_EQ(screen->PartitionsSet, 1);
    EXPECT_TRUE(screen->port->IsOpen()) << "Connect leaves the port to its caller";
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x35, 0x24, 0x2A}));
}

TEST_F(Device, VersionOnlyCard)
{
    card.SetVersionOnly(true);
    screen->pollBudget = 10;
    EXPECT_TRUE(screen->Connect(false));
    screen->versionText = "Unkown";
    const ParamRecord before = screen->params;
    EXPECT_FALSE(screen->Connect(true));
    EXPECT_EQ(screen->versionText, "ZELT-10 V2 .1 .A") << "the version was read before the failure";
    EXPECT_EQ(screen->params, before);
}

TEST_F(Device, NoiseBeforeTheReplyIsRealigned)
{
    ASSERT_TRUE(screen->OpenLink());
    card.SetNoise(3);
    ASSERT_TRUE(screen->ReadVersion());
    EXPECT_EQ(card.History().at(0).noise, 3);
    EXPECT_EQ(card.History().size(), 1u) << "one exchange, no retry";
}

TEST_F(Device, BurstWithoutStartByteFailsAtOnce)
{
    ASSERT_TRUE(screen->OpenLink());
    card.SetNoAfBurst(1);
    EXPECT_FALSE(screen->ReadVersion());
    EXPECT_EQ(card.History().size(), 1u) << "no second attempt";
}

TEST_F(Device, BadChecksumIsRetriedOnce)
{
    ASSERT_TRUE(screen->OpenLink());
    card.SetBadChecksum(1);
    EXPECT_TRUE(screen->SendClear());
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x06, 0x06}));

    card.ClearHistory();
    card.SetBadChecksum(2);
    EXPECT_FALSE(screen->SendClear());
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x06, 0x06}));
}

TEST_F(Device, ParameterWriteTriesOnceAndReportsRejection)
{
    ASSERT_TRUE(screen->OpenLink());
    screen->params = {32, 8, 2};
    card.SetBadChecksum(1);
    EXPECT_EQ(screen->WriteParameters(), ParamWriteResult::Failed);
    EXPECT_EQ(card.History().size(), 1u);

    card.ClearHistory();
    card.SetParams({8, 8, 1}); // the card took the first write; only its reply was damaged
    card.SetRejectParamWrite(true);
    EXPECT_EQ(screen->WriteParameters(), ParamWriteResult::Rejected);
    EXPECT_EQ(card.History().size(), 1u);
    EXPECT_EQ(screen->params, (ParamRecord{32, 8, 2}));
    EXPECT_EQ(card.State().params, (std::array<uint8_t, 16>{8, 8, 1}));

    card.SetRejectParamWrite(false);
    EXPECT_EQ(screen->WriteParameters(), ParamWriteResult::Ok);
    EXPECT_EQ(card.State().params, (std::array<uint8_t, 16>{32, 8, 2}));
}

TEST_F(Device, SettingsReachTheCard)
{
    ASSERT_TRUE(screen->OpenLink());
    ASSERT_TRUE(screen->SetBrightness(9));
    std::array<uint8_t, 32> b{};
    ASSERT_TRUE(screen->ReadBrightness(b));
    EXPECT_EQ(b[0] & 0x0F, 9);

    ASSERT_TRUE(screen->SetPowerSchedule(1, 7, 30, 22, 5));
    PowerSchedule s;
    ASSERT_TRUE(screen->ReadPowerSchedule(s));
    EXPECT_EQ(s.mode, 1);
    EXPECT_EQ(s.onHour, 7);
    EXPECT_EQ(s.onMinute, 30);
    EXPECT_EQ(s.offHour, 22);
    EXPECT_EQ(s.offMinute, 5);

    ASSERT_TRUE(screen->MarkSendAll(0));
    EXPECT_EQ(card.State().downloadMark, 0);

    screen->partition->ClearRects();
    screen->partition->AddRect({0, 0, 32, 64});
    screen->partition->AddRect({32, 0, 64, 64});
    ASSERT_TRUE(screen->WritePartitions());
    screen->partition->ClearRects();
    ASSERT_TRUE(screen->ReadPartitions());
    EXPECT_EQ(screen->partition->GetCount(), 2);
    EXPECT_EQ(*screen->partition->GetRect(1), (LcmRect{32, 0, 64, 64}));
}

TEST_F(Device, ClockOnASunday)
{
    mxtest::FixedClock clock(QDateTime(QDate(2025, 1, 5), QTime(8, 9, 10)));
    ASSERT_TRUE(screen->OpenLink());
    ASSERT_TRUE(screen->SetClock());
    const auto raw = card.State().clockRaw;
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(raw.data()), 8).toHex(' '), "25 01 05 08 09 10 07 01");
}

TEST_F(Device, PowerScheduleWithoutAnAnswerIsZero)
{
    ASSERT_TRUE(screen->OpenLink());
    card.SetPowerSchedule(2, 6, 0, 23, 0);
    card.SetSilent(0x27);
    PowerSchedule s{9, 9, 9, 9, 9};
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(screen->ReadPowerSchedule(s));
    // Two attempts, each waiting the 1434 ms a missing reply gets at 57600 baud.
    EXPECT_GE(t.elapsed(), 2 * 1434 - 2);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.onHour + s.onMinute + s.offHour + s.offMinute, 0);
}

TEST_F(Device, VanishedPortFailsQuickly)
{
    ASSERT_TRUE(screen->OpenLink());
    ASSERT_TRUE(screen->ReadVersion());
    server.Stop();
    // Waits of about 14 s a reply, so that running them out cannot pass for failing at once.
    screen->pollBudget = 1000;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(screen->ReadVersion());
    EXPECT_FALSE(screen->SendClear());
    EXPECT_LT(t.elapsed(), 3000);
    screen->CloseLink();
    EXPECT_FALSE(screen->Connect(false)) << "the link is gone";
}

TEST_F(Device, SendPageRefusesWhatTheCardCannotPlay)
{
    ASSERT_TRUE(screen->OpenLink());
    screen->units->Append(KindTimerEx);
    screen->units->Append(KindRtf); // no LED pages rendered
    int slots = -1;
    EXPECT_FALSE(screen->SendPage(0, 1, &slots));
    EXPECT_EQ(slots, 0);
    EXPECT_FALSE(screen->SendPage(5, 1, &slots));
    EXPECT_TRUE(screen->SendPage(1, 1, &slots));
    EXPECT_EQ(slots, 0);
    EXPECT_TRUE(card.History().empty());
}

TEST_F(Device, TextPageArrivesInItsSlot)
{
    ASSERT_TRUE(screen->OpenLink());
    screen->address = 1;
    auto* text = static_cast<TLCMText*>(screen->units->Append(KindText));
    text->lines = {QStringLiteral("AB")};
    int progress = 0;
    screen->onProgress = [&](bool) { ++progress; };
    int slots = 0;
    ASSERT_TRUE(screen->SendPage(0, 7, &slots));
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(progress, 1);
    const auto slot = card.Slot(7);
    ASSERT_TRUE(slot.used);
    EXPECT_EQ(slot.data, QByteArray::fromHex("41004200"));
    EXPECT_EQ(text->U16(Rec::ProgramNumber), 7);
}

class MultiBlock : public SimLink {
protected:
    // 128 x 64 full colour: three blocks.
    TLCMImage* picture()
    {
        screen->params = {16, 8, 3};
        ResetToSingle(*screen);
        auto* page = static_cast<TLCMImage*>(screen->units->Append(KindImage));
        QImage img(128, 64, QImage::Format_RGB888);
        img.fill(Qt::black);
        for (int x = 0; x < 128; x += 3)
            img.setPixelColor(x, x / 2, QColor(255, 255, 0));
        page->SetPicture(img);
        ConvertPicture(*page, screen->params);
        return page;
    }
};

TEST_F(MultiBlock, ThreeBlocksThreePacketsThreeNotifications)
{
    card.SetParams({16, 8, 3});
    ASSERT_TRUE(screen->OpenLink());
    TLCMImage* page = picture();
    int progress = 0;
    screen->onProgress = [&](bool) { ++progress; };
    int slots = 0;
    ASSERT_TRUE(screen->SendPage(0, 2, &slots));
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(progress, 3);
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x03, 0x02, 0x02}));
    EXPECT_EQ(card.Slot(2).data, page->DisplayData()) << "assembled by offset";
    EXPECT_EQ(card.RenderSlot(2), page->Picture().convertToFormat(card.RenderSlot(2).format()));
}

TEST_F(MultiBlock, StopsAfterTheFirstFailingBlock)
{
    ASSERT_TRUE(screen->OpenLink());
    picture();
    screen->pollBudget = 5;
    card.SetSilent(0x02);
    int progress = 0;
    screen->onProgress = [&](bool) { ++progress; };
    EXPECT_FALSE(screen->SendPage(0, 1));
    EXPECT_EQ(progress, 1);
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x03, 0x02, 0x02})) << "the failing block was tried twice";
}

TEST_F(MultiBlock, ExportAppendsRecordsAndTouchesNoPort)
{
    TLCMImage* page = picture();
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    ExportTransport line(file);
    LentTransport lend(*screen, line);
    int slots = 0;
    ASSERT_TRUE(screen->SendPage(0, 1, &slots));
    EXPECT_EQ(slots, 1);
    const QByteArray bytes = file.data();
    ASSERT_EQ(bytes.size(), 3 * 2048);
    EXPECT_FALSE(screen->port->IsOpen());
    EXPECT_TRUE(card.History().empty());
    for (int b = 0; b < 3; ++b) {
        const QByteArray rec = bytes.mid(b * 2048, 2048);
        EXPECT_EQ(uint8_t(rec[0]), 0xA0);
        EXPECT_EQ(uint8_t(rec[13]), b == 0 ? 0x03 : 0x02);
        EXPECT_EQ(rec.mid(48, 1024), page->DisplayData().mid(b * 1024, 1024));
        EXPECT_EQ(uint8_t(rec[1075]), 0x50);
        EXPECT_EQ(rec.mid(1076), QByteArray(2048 - 1076, '\0'));
    }
}

TEST_F(MultiBlock, ExportToAFileThatRefusesIsAFailure)
{
    picture();
    QBuffer file; // not open: every write fails
    ExportTransport line(file);
    LentTransport lend(*screen, line);
    EXPECT_FALSE(screen->SendPage(0, 1));
    EXPECT_FALSE(screen->MarkSendAll(1));
}

// The operations do not know which line they talk through: the card and the file get the
// same packets.
TEST_F(MultiBlock, SerialAndExportCarryTheSamePackets)
{
    card.SetParams({16, 8, 3});
    picture();
    auto run = [&] {
        EXPECT_EQ(screen->WriteParameters(), ParamWriteResult::Ok);
        EXPECT_TRUE(screen->WritePartitions());
        EXPECT_TRUE(screen->SendPage(0, 1));
        EXPECT_TRUE(screen->MarkSendAll(1));
    };
    ASSERT_TRUE(screen->OpenLink());
    run();
    screen->CloseLink();
    std::vector<QByteArray> overSerial;
    for (const auto& e : card.History())
        overSerial.push_back(e.packet);

    QBuffer file;
    file.open(QIODevice::WriteOnly);
    {
        ExportTransport line(file);
        LentTransport lend(*screen, line);
        run();
        EXPECT_EQ(line.Records(), 6);
    }
    std::vector<QByteArray> inFile;
    for (qsizetype at = 0; at < file.data().size(); at += 2048) {
        const QByteArray rec = file.data().mid(at, 2048);
        inFile.push_back(rec.left(uint8_t(rec[1]) | uint8_t(rec[2]) << 8));
    }
    EXPECT_EQ(inFile, overSerial);
    EXPECT_EQ(overSerial.size(), 6u);
}

} // namespace

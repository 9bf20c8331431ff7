#include "flows/flows.h"
#include "model/rtfpage.h"
#include "model/text.h"
#include "simfixture.h"
#include "testutil.h"

using namespace mx;

namespace {

class Flows : public SimLink {
protected:
    TLCMRtf* rtf(int ledPages)
    {
        auto* p = static_cast<TLCMRtf*>(screen->units->Append(KindRtf));
        for (int i = 0; i < ledPages; ++i)
            p->AddLedPage(QByteArray(128, char(i + 1)));
        return p;
    }
    std::vector<int> programNumbersSent() const
    {
        std::vector<int> out;
        for (const auto& e : card.History())
            if (e.command == 0x03)
                out.push_back(uint8_t(e.packet[16]) | uint8_t(e.packet[17]) << 8);
        return out;
    }
    int marks(int value) const
    {
        int n = 0;
        for (const auto& e : card.History())
            n += e.command == 0x19 && uint8_t(e.packet[16]) == value;
        return n;
    }
};

TEST_F(Flows, ScreenWithoutPagesSendsNothing)
{
    EXPECT_EQ(SendAllPages(*screen, keep()).outcome, Outcome::NothingToSend);
    EXPECT_TRUE(card.History().empty());
}

TEST_F(Flows, ProgramNumbersAndProgress)
{
    screen->units->Append(KindText);
    rtf(3);
    screen->units->Append(KindText);
    std::vector<int> percents;
    SendOptions options = keep();
    options.progress = [&](const SendEvent& e) { percents.push_back(e.percent); };
    const FlowResult r = SendAllPages(*screen, options);
    ASSERT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    EXPECT_EQ(programNumbersSent(), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(screen->units->GetPage(2)->firstSlot, 5);
    EXPECT_EQ(percents, (std::vector<int>{20, 40, 60, 80, 99, 100})) << "a step of 20 per packet, 100 at the end";
    EXPECT_EQ(commands().front(), 0x35);
    EXPECT_EQ(marks(0), 1);
    EXPECT_EQ(marks(1), 1);
    EXPECT_EQ(card.State().downloadMark, 1);
    EXPECT_FALSE(screen->port->IsOpen());
    EXPECT_EQ(r.summary.pages, 3);
    EXPECT_EQ(r.summary.slots, 5);
    EXPECT_EQ(r.summary.packets, 5);
    EXPECT_EQ(r.summary.bytes, 2 * 52 + 2 * 56 + 3 * (52 + 128));
}

TEST_F(Flows, EightySlotsFitMoreDoNot)
{
    rtf(30);
    rtf(30);
    rtf(19); // a rich-text page keeps clear of slot 80
    FlowResult r = SendAllPages(*screen, keep());
    EXPECT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    EXPECT_EQ(programNumbersSent().size(), 79u);

    card.ClearHistory();
    screen->units->Clear();
    for (int i = 0; i < 80; ++i)
        screen->units->Append(KindText);
    r = SendAllPages(*screen, keep());
    EXPECT_EQ(r.outcome, Outcome::Success) << "slots 1 to 80 are the card's";
    EXPECT_EQ(programNumbersSent().back(), 80);

    card.ClearHistory();
    screen->units->Append(KindText);
    screen->units->Append(KindText);
    r = SendAllPages(*screen, keep());
    EXPECT_EQ(r.outcome, Outcome::ProgramFull);
    EXPECT_EQ(programNumbersSent().size(), 80u) << "the pages past slot 80 are not sent";
    EXPECT_EQ(marks(1), 1);
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, ARichTextPageCutAtSlotEightyIsReported)
{
    for (int i = 0; i < 77; ++i)
        screen->units->Append(KindText);
    rtf(5);
    const FlowResult r = SendAllPages(*screen, keep());
    EXPECT_EQ(r.outcome, Outcome::ProgramFull);
    EXPECT_EQ(programNumbersSent().size(), 77u + 2);
    EXPECT_EQ(marks(1), 1);
}

TEST_F(Flows, ExtendedTimerPageIsRefusedBeforeTheDownloadStarts)
{
    screen->units->Append(KindText);
    screen->units->Append(KindTimerEx);
    screen->units->Append(KindText);
    const FlowResult r = SendAllPages(*screen, keep());
    EXPECT_EQ(r.outcome, Outcome::PageRefused);
    EXPECT_TRUE(r.detail.contains("page 2") && r.detail.contains("dial")) << r.detail.toStdString();
    EXPECT_TRUE(programNumbersSent().empty());
    EXPECT_EQ(marks(0), 0) << "the card's program is not touched";
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, CardThatStopsAnsweringMidSend)
{
    for (int i = 0; i < 3; ++i)
        screen->units->Append(KindText);
    screen->pollBudget = 10;
    SendOptions options;
    options.progress = [&](const SendEvent& e) {
        if (e.packets == 1)
            card.SetSilent(0x03);
    };
    const FlowResult r = SendAllPages(*screen, options);
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    EXPECT_EQ(card.State().downloadMark, 1) << "the card leaves its download state";
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, PortThatVanishesMidSend)
{
    for (int i = 0; i < 3; ++i)
        screen->units->Append(KindText);
    SendOptions options;
    options.progress = [&](const SendEvent& e) {
        if (e.packets == 1)
            server.Stop();
    };
    const FlowResult r = SendAllPages(*screen, options);
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, StopEndsTheSendCleanly)
{
    for (int i = 0; i < 5; ++i)
        screen->units->Append(KindText);
    bool stop = false;
    SendOptions options;
    options.progress = [&](const SendEvent& e) { stop = e.packets >= 2; };
    options.stop = [&] { return stop; };
    const FlowResult r = SendAllPages(*screen, options);
    EXPECT_EQ(r.outcome, Outcome::Stopped);
    EXPECT_EQ(programNumbersSent().size(), 2u);
    EXPECT_EQ(card.State().downloadMark, 1);
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, NoCardAtAll)
{
    screen->units->Append(KindText);
    server.Stop();
    EXPECT_EQ(SendAllPages(*screen, keep()).outcome, Outcome::Timeout);
    EXPECT_EQ(ClearScreen(*screen).outcome, Outcome::NoController);
    EXPECT_EQ(SendPartitionLayout(*screen).outcome, Outcome::NoController);
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, PartitionSendWritesTheTableAfterAFailedClear)
{
    screen->pollBudget = 10;
    card.SetSilent(0x06);
    screen->partition->ClearRects();
    screen->partition->AddRect({0, 0, 32, 64});
    screen->partition->AddRect({32, 0, 64, 64});
    const FlowResult r = SendPartitionLayout(*screen);
    EXPECT_EQ(r.outcome, Outcome::Timeout) << "the failed clear is not hidden";
    EXPECT_EQ(card.State().partitions[8], 1) << "the second entry reached the card";

    card.SetSilent(0x06, false);
    EXPECT_EQ(SendPartitionLayout(*screen).outcome, Outcome::Success);
    EXPECT_EQ(commands().back(), 0x29);
}

TEST_F(Flows, PowerScheduleCorrectionsOnlyOnOpen)
{
    card.SetPowerSchedule(7, 25, 61, 24, 59); // hours and minutes out of range, sent as BCD
    PowerSchedule onOpen = PowerScheduleOnOpen(*screen);
    EXPECT_EQ(onOpen.mode, 0);
    EXPECT_EQ(onOpen.onHour, 9);
    EXPECT_EQ(onOpen.onMinute, 0);
    EXPECT_EQ(onOpen.offHour, 21);
    EXPECT_EQ(onOpen.offMinute, 59);

    PowerSchedule asIs = DefaultPowerSchedule();
    ASSERT_TRUE(ReadPowerScheduleAsIs(*screen, asIs).ok());
    EXPECT_EQ(asIs.mode, 7);
    EXPECT_EQ(asIs.onHour, 25);
    EXPECT_EQ(asIs.onMinute, 61);

    card.SetSilent(0x27);
    screen->pollBudget = 5;
    PowerSchedule kept{1, 2, 3, 4, 5};
    EXPECT_EQ(ReadPowerScheduleAsIs(*screen, kept).outcome, Outcome::Timeout);
    EXPECT_EQ(kept.onHour, 2) << "a failed read keeps the values";
    EXPECT_EQ(PowerScheduleOnOpen(*screen).onHour, 9) << "defaults when the card is silent";
    EXPECT_FALSE(screen->port->IsOpen());
}

TEST_F(Flows, ClockWeekday)
{
    struct Case { QDate day; uint8_t weekday; };
    for (auto c : {Case{QDate(2025, 1, 5), 7}, Case{QDate(2025, 1, 6), 1}}) {
        mxtest::FixedClock clock(QDateTime(c.day, QTime(8, 9, 10)));
        ASSERT_TRUE(SyncClock(*screen).ok());
        EXPECT_EQ(card.State().clockRaw[6], c.weekday);
    }
}

TEST_F(Flows, ScreenParameters)
{
    ParamRecord working{16, 4, 2};
    card.SetRejectParamWrite(true);
    EXPECT_EQ(WriteScreenParameters(*screen, working).outcome, Outcome::ParamsRejected);
    EXPECT_EQ(screen->params, working) << "the project keeps the new size";
    card.SetRejectParamWrite(false);
    EXPECT_EQ(WriteScreenParameters(*screen, working).outcome, Outcome::Success);
    EXPECT_EQ(card.State().params[0], 16);
    EXPECT_EQ(commands().back(), 0x06);

    screen->params = NewScreenParams();
    EXPECT_EQ(ReadScreenParameters(*screen).outcome, Outcome::ParamsRead);
    EXPECT_EQ(screen->params[0], 16);

    server.Stop();
    ParamRecord other{32, 4, 1};
    EXPECT_EQ(WriteScreenParameters(*screen, other).outcome, Outcome::NoController);
    EXPECT_EQ(screen->params, other);
    EXPECT_EQ(ReadScreenParameters(*screen).outcome, Outcome::ParamsNotRead);
}

TEST_F(Flows, Brightness)
{
    card.SetBrightness(0x3A);
    int level = -1;
    ASSERT_TRUE(ReadBrightness(*screen, &level).ok());
    EXPECT_EQ(level, 10);
    EXPECT_TRUE(SetBrightness(*screen, 7).ok());
    EXPECT_EQ(card.State().brightness, 7);
}

} // namespace

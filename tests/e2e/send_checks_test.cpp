// What the send and the export check before the first byte, and what they report: pages the
// card cannot take, a card whose screen is not the project's, progress by packets, a lost line,
// and pages that keep their partitions when a card without a table is connected.
#include "flows/flows.h"
#include "flows/page_render.h"
#include "flows/sd_export.h"
#include "model/imagepage.h"
#include "model/rtfpage.h"
#include "model/text.h"
#include "simfixture.h"

#include <QFile>

using namespace mx;

namespace {

class SendChecks : public SimLink {
protected:
    TLCMImage* picture(int bytes)
    {
        auto* p = static_cast<TLCMImage*>(screen->units->Append(KindImage));
        p->SetDisplayData(QByteArray(bytes, char(0x5A)));
        return p;
    }
    int pagePackets() const
    {
        int n = 0;
        for (const auto& e : card.History())
            n += e.command == 0x03 || e.command == 0x02;
        return n;
    }
    std::vector<int> partitionNibbles() const
    {
        std::vector<int> out;
        for (const auto& e : card.History())
            if (e.command == 0x03)
                out.push_back(uint8_t(e.packet[46]) & 0x0F);
        return out;
    }
};

// 64 KiB is the most a 16-bit block offset reaches; one byte more would wrap onto the start.
TEST_F(SendChecks, APictureThatPassesSixtyFourKilobytesIsRefusedEverywhere)
{
    screen->units->Append(KindText);
    picture(98304);
    const FlowResult sent = SendAllPages(*screen, keep());
    EXPECT_EQ(sent.outcome, Outcome::PageRefused);
    EXPECT_TRUE(sent.detail.contains("page 2") && sent.detail.contains("98304")) << sent.detail.toStdString();
    EXPECT_EQ(pagePackets(), 0) << "no page leaves before the check";
    for (const auto& e : card.History())
        EXPECT_NE(e.command, 0x19) << "the download never started";

    QTemporaryDir out;
    const ExportOutcome exported = ExportSd(*screen, out.path(), keep().render);
    EXPECT_FALSE(exported.ok);
    EXPECT_FALSE(exported.written);
    EXPECT_TRUE(exported.message.contains("page 2")) << exported.message.toStdString();
    EXPECT_FALSE(QFile::exists(out.path() + "/led.sd"));

    const RenderedPage rendered = RenderPageAsSent(*screen, 1);
    EXPECT_FALSE(rendered.ok);
    EXPECT_TRUE(rendered.images.isEmpty());
    EXPECT_TRUE(rendered.note.contains("65536")) << rendered.note.toStdString();
}

TEST_F(SendChecks, APictureOfExactlySixtyFourKilobytesIsSent)
{
    picture(65536);
    const FlowResult r = SendAllPages(*screen, keep());
    ASSERT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    EXPECT_EQ(pagePackets(), 64);
    EXPECT_EQ(card.Slot(1).data.size(), 65536);
}

TEST_F(SendChecks, ACardWithAnotherScreenIsAskedAbout)
{
    screen->params[Param::Width] = 16; // 128 x 32, red and green
    screen->params[Param::Height] = 4;
    screen->params[Param::ColourType] = 2;
    screen->units->Append(KindText);

    std::vector<ScreenMismatch> asked;
    SendOptions refuse = keep();
    refuse.confirmScreen = [&](const ScreenMismatch& m) {
        asked.push_back(m);
        return false;
    };
    FlowResult r = SendAllPages(*screen, refuse);
    EXPECT_EQ(r.outcome, Outcome::ScreenMismatch);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].cardWidth, 64);
    EXPECT_EQ(asked[0].cardHeight, 64);
    EXPECT_EQ(asked[0].cardColourType, 1);
    EXPECT_EQ(asked[0].projectWidth, 128);
    EXPECT_TRUE(r.detail.contains("64 x 64 single colour") && r.detail.contains("128 x 32 red and green"))
        << r.detail.toStdString();
    EXPECT_EQ(screen->Width(), 128) << "the project keeps the screen it was made for";
    EXPECT_EQ(screen->ColourType(), 2);
    EXPECT_EQ(pagePackets(), 0);
    for (const auto& e : card.History())
        EXPECT_NE(e.command, 0x19) << "no start mark was sent";

    EXPECT_EQ(SendAllPages(*screen, keep()).outcome, Outcome::ScreenMismatch) << "nobody to ask: no send";

    SendOptions force = keep();
    force.confirmScreen = [](const ScreenMismatch&) { return true; };
    r = SendAllPages(*screen, force);
    EXPECT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    EXPECT_EQ(pagePackets(), 1);
}

TEST_F(SendChecks, ProgressMovesWithThePackets)
{
    picture(3 * 1024); // three packets
    screen->units->Append(KindText);
    std::vector<int> percents;
    SendOptions options = keep();
    options.progress = [&](const SendEvent& e) {
        percents.push_back(e.percent);
        EXPECT_EQ(e.totalPackets, 4);
    };
    const FlowResult r = SendAllPages(*screen, options);
    ASSERT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    EXPECT_EQ(percents, (std::vector<int>{25, 50, 75, 99, 100}));
}

TEST_F(SendChecks, AFailedSingleBlockIsNotCountedAsSent)
{
    screen->units->Append(KindText);
    screen->pollBudget = 10;
    card.SetSilent(0x03);
    int events = 0;
    SendOptions options = keep();
    options.progress = [&](const SendEvent&) { ++events; };
    const FlowResult r = SendAllPages(*screen, options);
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    EXPECT_EQ(events, 1) << "the progress display still takes its step";
    EXPECT_EQ(r.summary.packets, 0);
    EXPECT_EQ(r.summary.pages, 0);
    EXPECT_EQ(r.summary.bytes, 2 * 52) << "the two download marks only";
}

TEST_F(SendChecks, ALostLineSaysSo)
{
    for (int i = 0; i < 3; ++i)
        screen->units->Append(KindText);
    SendOptions options = keep();
    options.progress = [&](const SendEvent& e) {
        if (e.packets == 1)
            server.Stop();
    };
    const FlowResult r = SendAllPages(*screen, options);
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    EXPECT_TRUE(r.detail.contains("the line went away") && r.detail.contains(link)) << r.detail.toStdString();
    EXPECT_TRUE(r.detail.contains("page 2")) << r.detail.toStdString();
}

TEST_F(SendChecks, WarningsReachTheFlowsResult)
{
    screen->params[Param::ColourType] = 2;
    card.SetParams({8, 8, 2});
    auto* text = static_cast<TLCMText*>(screen->units->Append(KindText));
    text->lines = {QString(600, u'A')};
    text->SetU8(Rec::Colour, 4); // blue
    const FlowResult r = SendAllPages(*screen, keep());
    ASSERT_EQ(r.outcome, Outcome::Success) << r.detail.toStdString();
    ASSERT_EQ(r.warnings.size(), 2) << r.warnings.join('\n').toStdString();
    EXPECT_TRUE(r.warnings[0].startsWith("page 1"));
    EXPECT_TRUE(r.warnings.join(' ').contains("512"));
    EXPECT_TRUE(r.warnings.join(' ').contains("blue"));
}

// A card without a partition table makes the screen one rectangle; the pages keep their
// numbers, are sent as that rectangle's pages, and are back in place once the layout returns.
TEST_F(SendChecks, PagesKeepTheirPartitionsAcrossACardWithoutATable)
{
    auto setLayout = [&] {
        screen->partition->type = PartitionLR;
        screen->partition->ClearRects();
        screen->partition->AddRect({0, 0, 32, 64});
        screen->partition->AddRect({32, 0, 64, 64});
    };
    setLayout();
    for (int n : {1, 2, 2, 1})
        screen->units->Append(KindText)->SetPartition(n);

    ASSERT_EQ(SendAllPages(*screen, keep()).outcome, Outcome::Success);
    EXPECT_EQ(screen->partition->GetCount(), 1) << "the card has no table";
    EXPECT_EQ(partitionNibbles(), (std::vector<int>{1, 1, 1, 1})) << "sent as the single rectangle's pages";
    std::vector<int> kept;
    for (int i = 0; i < 4; ++i)
        kept.push_back(screen->units->GetPage(i)->GetPartition());
    EXPECT_EQ(kept, (std::vector<int>{1, 2, 2, 1}));

    setLayout();
    ASSERT_EQ(SendPartitionLayout(*screen).outcome, Outcome::Success);
    card.ClearHistory();
    ASSERT_EQ(SendAllPages(*screen, keep()).outcome, Outcome::Success);
    EXPECT_EQ(partitionNibbles(), (std::vector<int>{1, 2, 2, 1}));
    EXPECT_EQ(*PageArea(*screen, *screen->units->GetPage(1)), (LcmRect{32, 0, 64, 64}));
}

} // namespace

// The operator's flows that talk to a card: each runs its steps in order, leaves the port
// closed, and answers the outcome whose text the program shows.
#pragma once

#include "flows/outcome.h"
#include "flows/program.h"
#include "model/panel.h"

#include <QString>

#include <functional>

namespace mx {


struct SendEvent {
    int page = -1;          // list index of the page being sent
    int programNumber = 0;  // its first program slot
    int packets = 0;        // packets that reached the card so far
    int totalPackets = 0;   // packets of the whole program
    qint64 bytes = 0;       // their bytes
    int percent = 0;        // by packets: below 100 until the end mark was taken, then 100
};

// The card's screen against the project's, found by the connection before any page is sent.
struct ScreenMismatch {
    int projectWidth = 0, projectHeight = 0, projectColourType = 0;
    int cardWidth = 0, cardHeight = 0, cardColourType = 0;
    QString Describe() const;
};

struct SendSummary {
    int pages = 0;    // pages sent
    int slots = 0;    // program slots they occupy
    int packets = 0;  // page packets that reached the card
    qint64 bytes = 0; // bytes of every packet sent, download marks included
    qint64 ms = 0;
};

struct SendOptions {
    // Lays a rich-text page out before it is sent; empty: the renderer, as the editor would.
    RichTextRenderer render;
    // Asked when the card's screen differs from the project's; true sends anyway (the pages
    // are then made for the card's screen). Empty: the send stops before the download mark.
    std::function<bool(const ScreenMismatch&)> confirmScreen;
    std::function<void(const SendEvent&)> progress;
    // Asked between packets; true ends the send after the current exchange.
    std::function<bool()> stop;
};

struct FlowResult {
    Outcome outcome = Outcome::Success;
    QString detail;       // what a message box cannot say: the page that failed, and why
    SendSummary summary;  // SendAllPages only
    QStringList warnings; // SendAllPages: what the sign will not show of the pages sent
    bool ok() const { return outcome == Outcome::Success || outcome == Outcome::ParamsRead; }
};

// What the line says about a failed exchange (the device vanished, or why it did not open),
// for the detail beside the outcome text; otherwise when it says nothing.
QString LineDetail(TLCMPanel& screen, const QString& otherwise = {});

FlowResult SendAllPages(TLCMPanel& screen, const SendOptions& options = {});
FlowResult ClearScreen(TLCMPanel& screen);          // after the operator confirmed
FlowResult SendPartitionLayout(TLCMPanel& screen);  // the clear first, then the table

FlowResult ReadScreenParameters(TLCMPanel& screen);
// The working copy goes into the screen's record whether or not a card answers.
FlowResult WriteScreenParameters(TLCMPanel& screen, const ParamRecord& working);

FlowResult ReadBrightness(TLCMPanel& screen, int* level);
FlowResult SetBrightness(TLCMPanel& screen, int level);

// The schedule a dialog opens with: read silently, values out of range corrected; the
// defaults stay when nothing answers.
PowerSchedule PowerScheduleOnOpen(TLCMPanel& screen);
PowerSchedule DefaultPowerSchedule();
// "读取当前设定": the values as the card holds them; left alone on failure.
FlowResult ReadPowerScheduleAsIs(TLCMPanel& screen, PowerSchedule& values);
FlowResult SendPowerSchedule(TLCMPanel& screen, const PowerSchedule& values);

FlowResult SyncClock(TLCMPanel& screen);

} // namespace mx

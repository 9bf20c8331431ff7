// Walking a screen's program the one way the send and the SD export both use: lay rich text
// out, check every page before the first byte, then send or write the pages in slot order,
// stopping when the program is full and saying what was left out.
#pragma once

#include "flows/outcome.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace mx {

class TLCMPanel;
class TLCMRtf;
class TLCMSendMsg;

// Lays a rich-text page out into LED pages; answers false with a reason.
using RichTextRenderer = std::function<bool(TLCMRtf& page, TLCMPanel& screen, QString* why)>;

// "page 3 (name)"
QString PageLabel(int index, const TLCMSendMsg& page);

// What the sign will not show of a page that is sent as it stands: text and templates cut at
// the card's buffers, LED pages past the 30 a page holds, colours the screen has no LEDs for.
QStringList PageWarnings(const TLCMPanel& screen, TLCMSendMsg& page);

struct ProgramCheck {
    Outcome outcome = Outcome::Success; // RenderFailed or PageRefused stop before the first byte
    QString detail;                     // the page, and why
    QStringList warnings;               // per page, what the sign will not show
    int packets = 0;                    // packets of the pages the program has room for
    QList<int> slots;                   // per page, the slots a send gives it; 0 past the last
};

// Lays out every rich-text page with the renderer (LayOutRichText when empty) and checks every
// page; counts the packets of the pages that fit in slots 1 ... lastSlot.
ProgramCheck CheckProgram(TLCMPanel& screen, const RichTextRenderer& render, int lastSlot);

struct ProgramWalk {
    Outcome outcome = Outcome::Success; // Timeout (a page failed), Stopped, ProgramFull
    QString detail;
    int pages = 0;       // pages sent whole
    int slots = 0;       // the slots they took
    QStringList missing; // pages not, or not wholly, in the program
};

// Hands each page with its first slot to sendPage (which answers the slots it used), in list
// order. Stops at the first page that fails or when stop answers true after a page; a page
// that does not fit in slots 1 ... lastSlot, and every page after it, is left out.
ProgramWalk WalkProgram(TLCMPanel& screen, int lastSlot,
                        const std::function<bool(int index, int firstSlot, int* used)>& sendPage,
                        const std::function<bool()>& stop = {});

} // namespace mx

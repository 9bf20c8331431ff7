// The operator's flows that talk to a card: each runs its steps in order, leaves the port
// closed, and answers the outcome whose text the program shows.
#pragma once

#include "model/panel.h"

#include <QString>

#include <functional>

namespace mx {

class TLCMRtf;

enum class Outcome {
    Success,        // "命令发送成功。"
    Timeout,        // "命令发送失败，通讯超时（错误代码：0x00000033）."
    NoController,   // "没有找到控制卡，请检查硬件后重新查找。"
    ProgramFull,    // "节目数量超出范围."
    ParamsRejected, // "命今发送失败,可能是屏大小超出范围。错误代号 (0x04)"
    ParamsRead,     // "读取屏参成功!"
    ParamsNotRead,  // "读取屏参失败!"
    NothingToSend,  // a screen without pages: no connection, no message
    Stopped,        // the operator stopped a send
    RenderFailed,   // a rich-text page could not be laid out
};

struct SendEvent {
    int page = -1;          // list index of the page being sent
    int programNumber = 0;  // its first program slot
    int packets = 0;        // packets that reached the card so far
    qint64 bytes = 0;       // their bytes
    int percent = 0;        // 0 ... 100
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
    std::function<bool(TLCMRtf& page, TLCMPanel& screen, QString* why)> render;
    std::function<void(const SendEvent&)> progress;
    // Asked between packets; true ends the send after the current exchange.
    std::function<bool()> stop;
};

struct FlowResult {
    Outcome outcome = Outcome::Success;
    QString detail;      // what a message box cannot say: the page that failed, and why
    SendSummary summary; // SendAllPages only
    bool ok() const { return outcome == Outcome::Success || outcome == Outcome::ParamsRead; }
};

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

// What a flow answers; each program turns it into the system's own text (ui/strings).
#pragma once

namespace mx {

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
    PageRefused,    // a page the card cannot take; nothing was sent
    ScreenMismatch, // the card's screen is not the project's and nobody confirmed the send
};

} // namespace mx

// The system's own outcome texts: the flows report with them, and every program shows them.
#pragma once

#include <QString>

namespace mx::text {

inline QString Success() { return QStringLiteral("命令发送成功。"); }
inline QString Timeout() { return QStringLiteral("命令发送失败，通讯超时（错误代码：0x00000033）."); }
inline QString NoController() { return QStringLiteral("没有找到控制卡，请检查硬件后重新查找。"); }
inline QString ParamsRejected() { return QStringLiteral("命今发送失败,可能是屏大小超出范围。错误代号 (0x04)"); }
inline QString ProgramFull() { return QStringLiteral("节目数量超出范围."); }
inline QString NoSpace() { return QStringLiteral("没有剩余空间."); }
inline QString Saved() { return QStringLiteral("保存成功。"); }
inline QString ParamsRead() { return QStringLiteral("读取屏参成功!"); }
inline QString ParamsNotRead() { return QStringLiteral("读取屏参失败!"); }
inline QString Stopped() { return QStringLiteral("发送已停止：控制卡已退出下载状态。"); }
inline QString RenderFailed() { return QStringLiteral("超文本节目无法排版。"); }
inline QString PageRefused() { return QStringLiteral("控制卡无法接收此节目，未发送任何节目。"); }
inline QString ScreenMismatch() { return QStringLiteral("控制卡的屏参与工程不一致，未发送任何节目。"); }

} // namespace mx::text

#include "flows/outcome.h"

namespace mx::text {

// What the program tells the operator for a flow's outcome; empty for none.
inline QString OutcomeText(Outcome o)
{
    switch (o) {
    case Outcome::Success: return Success();
    case Outcome::Timeout: return Timeout();
    case Outcome::NoController: return NoController();
    case Outcome::ProgramFull: return ProgramFull();
    case Outcome::ParamsRejected: return ParamsRejected();
    case Outcome::ParamsRead: return ParamsRead();
    case Outcome::ParamsNotRead: return ParamsNotRead();
    case Outcome::NothingToSend: return {};
    case Outcome::Stopped: return Stopped();
    case Outcome::RenderFailed: return RenderFailed();
    case Outcome::PageRefused: return PageRefused();
    case Outcome::ScreenMismatch: return ScreenMismatch();
    }
    return {};
}

} // namespace mx::text

// The system's own outcome texts, shown by the desktop tool and printed by the CLI.
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

} // namespace mx::text

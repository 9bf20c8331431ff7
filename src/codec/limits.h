// Bounds on what a project file may claim, so a damaged file cannot make the reader
// allocate without end.
#pragma once

#include <QtGlobal>

#include <cstdint>

namespace mx {

constexpr int32_t kMaxScreens = 1024;
constexpr int32_t kMaxPagesPerScreen = 1000;
constexpr int32_t kMaxPartitionRects = 256;
constexpr int32_t kMaxPictureBytes = 64 * 1024 * 1024;
constexpr int32_t kMaxDisplayDataBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxProjectFileBytes = qint64(1) << 30;

} // namespace mx

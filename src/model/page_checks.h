// What the card cannot take of a page, found before its first byte is sent or written.
#pragma once

#include <QString>

namespace mx {

class TLCMSendMsg;

// Continuation blocks carry a 16-bit byte offset, so one LED page or picture ends at 64 KiB:
// a longer one would wrap and overwrite its own start.
constexpr int kMaxLedPageBytes = 65536;

// Why the card cannot be given the page as it stands; empty when it can.
QString PageRefusal(const TLCMSendMsg& page);

} // namespace mx

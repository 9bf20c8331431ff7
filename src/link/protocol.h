// The card's wire protocol as the device operations use it: command codes, where a reply
// carries its status and data, and the status values that mean something. The virtual card
// (src/sim) keeps constants of its own on purpose, so it stays an independent far end.
#pragma once

#include <cstdint>

namespace mx {

enum CommandCode : uint8_t {
    CmdContinuation = 0x02, // a block of a page after its first
    CmdSendMsg = 0x03,      // a page, or its first block
    CmdClear = 0x06,
    CmdSetBrightness = 0x10,
    CmdReadBrightness = 0x13,
    CmdMarkSendAll = 0x19,  // data byte 0: 0 download starts, 1 it ends
    CmdSetClock = 0x21,
    CmdWriteParams = 0x23,
    CmdReadParams = 0x24,
    CmdSetPowerSchedule = 0x26,
    CmdReadPowerSchedule = 0x27,
    CmdWritePartitions = 0x29,
    CmdReadPartitions = 0x2A,
    CmdReadVersion = 0x35,
};

// Offsets in the 52-byte reply.
constexpr int kReplyStatus = 13;
constexpr int kReplyData = 16; // 32 data bytes

// Reply status of a refused parameter write: the screen is larger than the card drives.
constexpr uint8_t kStatusParamsRejected = 0x04;
// First data byte of a partition read from a card that holds no partitions.
constexpr uint8_t kPartitionsNoneSet = 0xFF;
// A parameter record field a card that was never set up answers with.
constexpr uint8_t kParamUnset = 0xFF;

} // namespace mx

#include "model/sendmsg.h"

#include "link/engine_env.h"

#include <algorithm>
#include <cstring>

namespace mx {

TLCMSendMsg::TLCMSendMsg()
{
    kind = KindSendMsg;
    commandCode = CmdSendMsg;
    const QDateTime now = Now();
    const double today = double(QDate(1899, 12, 30).daysTo(now.date()));
    const double timeNow = ToLcmDateTime(QDateTime(QDate(1899, 12, 30), now.time()));
    SetU16(Rec::ProgramNumber, 1);
    SetU8(Rec::Effect, 1);
    SetU8(Rec::Speed, 14);
    SetU8(Rec::StayTime, 3);
    SetU8(Rec::FlashCycle, 2);
    SetF64(Rec::StartDate, today);
    SetF64(Rec::StartTime, timeNow);
    SetF64(Rec::StopDate, today);
    SetF64(Rec::StopTime, timeNow);
    SetU8(Rec::Colour, 1);
    SetU8(Rec::AllDates, 1);
    SetU8(Rec::AllTimes, 1);
}

QString TLCMSendMsg::GetName() const { return QStringLiteral("TLCMSendMsg"); }
void TLCMSendMsg::FillPayload() {}
bool TLCMSendMsg::CheckReply(std::span<const uint8_t> reply) { return CheckReplyFrame(reply); }

int TLCMSendMsg::GetBlockCount()
{
    return payloadSize <= 0 ? 0 : (payloadSize + kBlockSize - 1) / kBlockSize;
}

int TLCMSendMsg::GetSlotCount() { return 1; }

void TLCMSendMsg::Prepare()
{
    payloadSize = 0;
    blockIndex = 0;
}

double TLCMSendMsg::F64(int offset) const
{
    double v;
    std::memcpy(&v, &record_[size_t(offset)], sizeof v);
    return v;
}

void TLCMSendMsg::SetF64(int offset, double value)
{
    std::memcpy(&record_[size_t(offset)], &value, sizeof value);
}

void TLCMSendMsg::SetPartition(int number)
{
    record_[Rec::PartitionClear] = uint8_t((record_[Rec::PartitionClear] & 0xF0) | (number & 0x0F));
}

void TLCMSendMsg::SetBorder(int style)
{
    record_[Rec::BorderFlash] = uint8_t(((style & 0x0F) << 4) | (record_[Rec::BorderFlash] & 0x0F));
}

void TLCMSendMsg::BuildPacket()
{
    BuildHeader();
    FillHeader(true);
    CopyPayload();
    FinishPacket();
}

void TLCMSendMsg::FillHeader(bool withSchedule)
{
    uint8_t* h = Packet();
    PutU16LE(h + 16, U16(Rec::ProgramNumber));
    if (record_[Rec::Continuation]) {
        PutU16LE(h + 18, U16(Rec::ContinuationOffset));
    } else {
        h[18] = record_[Rec::Effect];
        h[19] = record_[Rec::BorderFlash];
    }
    h[20] = record_[Rec::Speed];
    h[21] = record_[Rec::StayTime];
    h[22] = record_[Rec::FlashCycle];
    h[23] = record_[Rec::LoopCount];
    if (withSchedule) {
        const bool allDates = record_[Rec::AllDates] != 0;
        const bool allTimes = record_[Rec::AllTimes] != 0;
        PackDateTime(h + 24, allDates, allTimes, LcmDate(F64(Rec::StartDate)), LcmTime(F64(Rec::StartTime)));
        PackDateTime(h + 32, allDates, allTimes, LcmDate(F64(Rec::StopDate)), LcmTime(F64(Rec::StopTime)));
    }
    h[40] = record_[Rec::Colour];
    h[41] = record_[Rec::DisplayType];
    h[42] = record_[Rec::PageIndex];
    h[43] = record_[Rec::LastPageIndex];
    PutU16LE(h + 44, U16(Rec::PayloadLength));
    uint8_t partition = record_[Rec::PartitionClear];
    if ((partition & 0x0F) == 0)
        partition |= 0x01; // no partition assigned plays in partition 1
    h[46] = partition;
    h[47] = record_[Rec::Reserved47];
}

void TLCMSendMsg::BuildContinuation(uint16_t offsetInLedPage)
{
    commandCode = CmdContinuation;
    record_[Rec::Continuation] = 1;
    SetU16(Rec::ContinuationOffset, offsetInLedPage);
    TLCMSendMsg::BuildPacket();
    commandCode = CmdSendMsg;
    record_[Rec::Continuation] = 0;
    SetU16(Rec::ContinuationOffset, 0);
}

void TLCMSendMsg::FillBlockFrom(const uint8_t* data, int size, int offset)
{
    const int count = std::clamp(size - offset, 0, kBlockSize);
    SetPayload(data ? data + offset : nullptr, count);
}

} // namespace mx

#include "model/object.h"

#include <algorithm>
#include <cstring>

namespace mx {

QString TLCMObject::GetName() const { return QStringLiteral("TLCMObject"); }

QString TLCMUnit::GetName() const { return QStringLiteral("TLCMUnit"); }
void TLCMUnit::FillPayload() {}
void TLCMUnit::BuildPacket() { BuildHeader(); }
void TLCMUnit::WriteToFile(RecordWriter&) const {}
bool TLCMUnit::ReadFromFile(RecordReader&) { return true; }
bool TLCMUnit::CheckReply(std::span<const uint8_t> reply) { return CheckReplyFrame(reply); }

bool TLCMUnit::SetPayloadLength(int length)
{
    payloadLength_ = std::clamp(length, 0, kPayloadBufferSize);
    return payloadLength_ == length;
}

int TLCMUnit::SetPayload(const uint8_t* data, int length)
{
    const int n = std::clamp(length, 0, kPayloadBufferSize);
    if (n > 0)
        std::memcpy(payloadBuffer_.data(), data, size_t(n));
    payloadLength_ = n;
    return n;
}

void TLCMUnit::BuildHeader()
{
    packet_.fill(0);
    packetLength = uint16_t(payloadLength_ + kFrameOverhead);
    packet_[0] = kPacketStart;
    PutU16LE(&packet_[1], packetLength);
    PutU16LE(&packet_[3], address);
    PutU32LE(&packet_[5], reservedA);
    PutU32LE(&packet_[9], reservedB);
    packet_[13] = commandCode;
    commandWord = uint16_t(commandCode + 256 * uint8_t(commandCode - 1));
    PutU16LE(&packet_[14], commandWord);
}

void TLCMUnit::CopyPayload()
{
    if (payloadLength_ > 0)
        std::memcpy(&packet_[kPayloadOffset], payloadBuffer_.data(), size_t(payloadLength_));
}

void TLCMUnit::FinishPacket()
{
    const int n = payloadLength_;
    PutU16LE(&packet_[48 + n], Checksum16(packet_.data(), 48 + n));
    packet_[50 + n] = trailer;
    packet_[51 + n] = kPacketEnd;
}

} // namespace mx

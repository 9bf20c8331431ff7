#include "link/packet.h"

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

uint16_t Checksum16(const uint8_t* data, int length)
{
    uint32_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum += data[i];
    return uint16_t(sum);
}

bool CheckReplyFrame(std::span<const uint8_t> reply)
{
    if (reply.size() < size_t(kReplySize))
        return false;
    if (reply[0] != kReplyStart || reply[51] != kReplyEnd)
        return false;
    return Checksum16(reply.data(), 48) == GetU16LE(&reply[48]);
}

void PutU16LE(uint8_t* dst, uint16_t value)
{
    dst[0] = uint8_t(value);
    dst[1] = uint8_t(value >> 8);
}

void PutU32LE(uint8_t* dst, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        dst[i] = uint8_t(value >> (8 * i));
}

uint16_t GetU16LE(const uint8_t* src) { return uint16_t(src[0] | (src[1] << 8)); }

uint32_t GetU32LE(const uint8_t* src)
{
    return uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16 | uint32_t(src[3]) << 24;
}

uint8_t ToBcd(int value)
{
    value &= 0xFF;
    return uint8_t(((value / 10) % 10) * 16 + value % 10);
}

int FromBcd(uint8_t value) { return (value / 16) * 10 + value % 16; }

void PackDateTime(uint8_t* dst, bool zeroDate, bool zeroTime, QDate date, QTime time)
{
    std::memset(dst, 0, 8);
    if (!zeroDate && date.isValid()) {
        dst[0] = ToBcd(date.day());
        dst[1] = ToBcd(date.month());
        dst[2] = ToBcd(((date.year() % 100) + 100) % 100);
    }
    if (!zeroTime && time.isValid()) {
        dst[4] = ToBcd(time.second());
        dst[5] = ToBcd(time.minute());
        dst[6] = ToBcd(time.hour());
    }
}

} // namespace mx

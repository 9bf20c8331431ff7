#include "link/packet.h"

#include <algorithm>
#include <cstring>

namespace mx {

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

// The command packet frame every exchange with the controller card is made of, and the small
// encoders used inside packets.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <array>
#include <cstdint>
#include <span>

namespace mx {

constexpr int kPacketBufferSize = 2048;
constexpr int kFrameOverhead = 52;          // header, command parameters, checksum, trailer, end
constexpr int kPayloadBufferSize = 1024;
constexpr int kReplySize = 52;
constexpr uint8_t kPacketStart = 0xA0;
constexpr uint8_t kPacketEnd = 0x50;
constexpr uint8_t kReplyStart = 0xAF;
constexpr uint8_t kReplyEnd = 0x5F;
constexpr int kParamOffset = 16;            // command parameters: packet bytes 16..47
constexpr int kParamSize = 32;
constexpr int kPayloadOffset = 48;

// The base reply check: start and end bytes and the checksum over bytes 0..47.
bool CheckReplyFrame(std::span<const uint8_t> reply);
// 16-bit wrapping sum of the bytes.
uint16_t Checksum16(const uint8_t* data, int length);

void PutU16LE(uint8_t* dst, uint16_t value);
void PutU32LE(uint8_t* dst, uint32_t value);
uint16_t GetU16LE(const uint8_t* src);
uint32_t GetU32LE(const uint8_t* src);
uint8_t ToBcd(int value);
int FromBcd(uint8_t value);
// The 8-byte date/time block: day, month, year % 100, 0, second, minute, hour, 0, in BCD.
// An invalid date or time writes zeros for its part.
void PackDateTime(uint8_t* dst, bool zeroDate, bool zeroTime, QDate date, QTime time);

} // namespace mx

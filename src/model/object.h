// The object root every model and command class derives from, the object kinds, and the
// command object that owns one packet of the frame.
#pragma once

#include "link/packet.h"

#include <QString>
#include <array>
#include <cstdint>
#include <span>

namespace mx {

class RecordWriter; // record streams (codec/record_stream.h)
class RecordReader;

enum ObjectKind : uint16_t {
    KindObject = 0x0000,
    KindGetHWVersion = 0x0002,
    KindGetHWParam = 0x0003,
    KindSetHWParam = 0x0004,
    KindSendMsg = 0x0005,
    KindPanel = 0x4001,
    KindPartition = 0x4002,
    KindText = 0x8001,
    KindRtf = 0x8002,
    KindImage = 0x8003,
    KindTimer = 0x8004,
    KindTemperature = 0x8006,
    KindConter = 0x8007,
    KindTimerEx = 0x8009,
};

inline bool IsPageKind(uint16_t kind) { return (kind & 0x8000) != 0; }

class TLCMObject {
public:
    TLCMObject() = default;
    TLCMObject(const TLCMObject&) = delete;
    TLCMObject& operator=(const TLCMObject&) = delete;

    virtual QString GetName() const;
    virtual ~TLCMObject() = default;

    uint16_t kind = KindObject;
    TLCMObject* owner = nullptr;
};

// Owns one command packet and its payload. The payload lives in the fixed payload buffer,
// so payload length + 52 can never pass the 2048-byte packet: the setter bounds it.
class TLCMUnit : public TLCMObject {
public:
    TLCMUnit() = default;

    QString GetName() const override;
    virtual void FillPayload();
    virtual void BuildPacket();
    virtual void WriteToFile(RecordWriter& out) const;
    virtual bool ReadFromFile(RecordReader& in);
    virtual bool CheckReply(std::span<const uint8_t> reply);
    // After a failed check: the card answered with a refusal, so asking again changes nothing.
    virtual bool Refused() const { return false; }

    void BuildHeader();
    void CopyPayload();
    void FinishPacket();
    int PacketLength() const { return payloadLength_ + kFrameOverhead; }

    int PayloadLength() const { return payloadLength_; }
    // Clamps to 0..1024; answers false when the requested length was out of range.
    bool SetPayloadLength(int length);
    uint8_t* Payload() { return payloadBuffer_.data(); }
    const uint8_t* Payload() const { return payloadBuffer_.data(); }
    // Copies up to 1024 bytes into the payload and sets its length; answers the count copied.
    int SetPayload(const uint8_t* data, int length);

    uint8_t* Packet() { return packet_.data(); }
    const uint8_t* Packet() const { return packet_.data(); }
    std::span<const uint8_t> PacketBytes() const { return {packet_.data(), size_t(PacketLength())}; }

    uint16_t packetLength = kFrameOverhead; // refreshed by BuildHeader
    uint16_t address = 1;
    uint32_t reservedA = 0;
    uint32_t reservedB = 0;
    uint8_t commandCode = 0;
    uint16_t commandWord = 0;               // derived by BuildHeader
    uint8_t trailer = 0;

private:
    std::array<uint8_t, kPayloadBufferSize> payloadBuffer_{};
    int32_t payloadLength_ = 0;
    std::array<uint8_t, kPacketBufferSize> packet_{};
};

} // namespace mx

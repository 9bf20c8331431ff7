// The base of every page: the 56-byte page property record that travels in the command header,
// and the block model that cuts a page's data into packets of at most 1024 bytes.
#pragma once

#include "model/object.h"
#include "link/protocol.h"

namespace mx {

using PageRecord = std::array<uint8_t, 56>;

namespace Rec {
enum : int {
    ProgramNumber = 0, Effect = 2, BorderFlash = 3, Speed = 4, StayTime = 5, FlashCycle = 6,
    LoopCount = 7, StartDate = 8, StartTime = 16, StopDate = 24, StopTime = 32, Colour = 40,
    DisplayType = 41, PageIndex = 42, LastPageIndex = 43, PayloadLength = 44,
    PartitionClear = 46, Reserved47 = 47, AllDates = 48, AllTimes = 49, Continuation = 50,
    Reserved51 = 51, ContinuationOffset = 52,
};
}

enum DisplayType : uint8_t {
    DisplayText = 0, DisplayLedPages = 1, DisplayPicture = 2, DisplayDial = 3,
    DisplayTemperature = 4, DisplayClock = 5, DisplayCountdown = 6,
};

constexpr int kBlockSize = 1024;
constexpr uint8_t kClearPanelBit = 0x80;

class TLCMSendMsg : public TLCMUnit {
public:
    TLCMSendMsg();

    QString GetName() const override;
    void FillPayload() override;
    void BuildPacket() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;
    bool CheckReply(std::span<const uint8_t> reply) override;
    virtual int GetBlockCount();
    virtual int GetSlotCount();
    virtual void Prepare();

    PageRecord& Record() { return record_; }
    const PageRecord& Record() const { return record_; }

    uint8_t U8(int offset) const { return record_[size_t(offset)]; }
    void SetU8(int offset, uint8_t value) { record_[size_t(offset)] = value; }
    uint16_t U16(int offset) const { return GetU16LE(&record_[size_t(offset)]); }
    void SetU16(int offset, uint16_t value) { PutU16LE(&record_[size_t(offset)], value); }
    double F64(int offset) const;
    void SetF64(int offset, double value);

    int GetPartition() const { return record_[Rec::PartitionClear] & 0x0F; }
    void SetPartition(int number);
    int GetBorder() const { return record_[Rec::BorderFlash] >> 4; }
    void SetBorder(int style);
    uint8_t GetDisplayType() const { return record_[Rec::DisplayType]; }

    int32_t payloadSize = 0; // bytes of the page's data over all blocks
    int32_t blockIndex = 0;  // the block the next FillPayload/BuildPacket handle
    int32_t firstSlot = 0;

protected:
    // Bytes 16..47 from the record; with schedule also the start and stop blocks.
    void FillHeader(bool withSchedule);
    // The base build with a continuation block's offset in bytes 18-19 and command 0x02.
    void BuildContinuation(uint16_t offsetInLedPage);
    // Copies the current block of data (size bytes in all) into the payload.
    void FillBlockFrom(const uint8_t* data, int size, int offset);

private:
    PageRecord record_{};
};

} // namespace mx

// A screen's partition layout: a type code and up to four rectangles, each playing its own
// pages; and its table on the wire.
#pragma once

#include "model/object.h"
#include "link/protocol.h"

#include <optional>
#include <vector>

namespace mx {

class TLCMPanel;
class TLCMSendMsg;

// Screen dots; right and bottom exclusive.
struct LcmRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const LcmRect&, const LcmRect&) = default;
};

enum PartitionType : int8_t {
    PartitionNone = 0, PartitionLR = 1, PartitionUD = 2, PartitionLMR = 3, PartitionUMD = 4,
    Partition3_1 = 5, Partition3_2 = 6, Partition3_3 = 7, Partition3_4 = 8, PartitionOther = 9,
};

constexpr int kMaxTablePartitions = 4;
constexpr int kPartitionTableSize = 32;

class TLCMPartition : public TLCMObject {
public:
    TLCMPartition();
    QString GetName() const override;

    int GetCount() const { return int(rects_.size()); }
    const LcmRect* GetRect(int index) const;
    void AddRect(LcmRect rect) { rects_.push_back(rect); }
    void DeleteRect(int index);
    void ClearRects() { rects_.clear(); }
    const std::vector<LcmRect>& Rects() const { return rects_; }
    void WriteToFile(RecordWriter& out) const;
    bool ReadFromFile(RecordReader& in);

    int8_t type = PartitionNone;

private:
    std::vector<LcmRect> rects_;
};

void ResetToSingle(TLCMPanel& screen);
void ReassignPages(TLCMPanel& screen, int count, int first);
// Pages keep their partition numbers when the layout changes under them (a card without a
// table, a file): a number that names no rectangle plays in rectangle 0, and is sent as its page.
int PageRectIndex(const TLCMPanel& screen, const TLCMSendMsg& page);
// The rectangle of PageRectIndex; none only for a screen without rectangles.
std::optional<LcmRect> PageArea(const TLCMPanel& screen, const TLCMSendMsg& page);
// True when a partitioned screen has no rectangle for the page's number (it plays in the first).
bool PagePartitionMissing(const TLCMPanel& screen, const TLCMSendMsg& page);

// Writes the entries into the 32-byte data field; the rest is left as it is.
void EncodePartitionTable(const TLCMPartition& partition, uint8_t* data);
void DecodePartitionTable(TLCMPanel& screen, const uint8_t* data);
void ClassifyRects(TLCMPanel& screen, int n);

} // namespace mx

// A screen's program list: the pages in play order, kept together per partition.
#pragma once

#include "model/sendmsg.h"

#include <memory>
#include <vector>

namespace mx {

class TLCMPanel;

// The screen's tree as data: for partition type 0 one group holding the pages in order,
// otherwise group i holding the pages of partition i + 1.
struct TreeOrder {
    int partitionType = 0;
    std::vector<std::vector<TLCMSendMsg*>> groups;
};

class TLCMUnits {
public:
    TLCMUnits() = default;
    TLCMUnits(const TLCMUnits&) = delete;
    TLCMUnits& operator=(const TLCMUnits&) = delete;
    virtual void WriteToFile(RecordWriter& out) const;
    virtual bool ReadFromFile(RecordReader& in);
    virtual ~TLCMUnits();

    int GetCount() const { return int(pages_.size()); }
    TLCMSendMsg* GetPage(int index) const;
    int IndexOf(const TLCMSendMsg* page) const;
    static std::unique_ptr<TLCMSendMsg> CreatePage(uint16_t kind);
    TLCMSendMsg* Append(uint16_t kind);
    TLCMSendMsg* Insert(int index, uint16_t kind);
    TLCMSendMsg* InsertInPartition(int partition, uint16_t kind);
    // Takes a page made elsewhere (a project load); answers it, now owned by the list.
    TLCMSendMsg* Adopt(std::unique_ptr<TLCMSendMsg> page);
    bool Remove(TLCMSendMsg* page);
    bool RemoveAt(int index);
    void Clear();
    bool MoveUp(TLCMSendMsg* page);
    bool MoveDown(TLCMSendMsg* page);
    // Rewrites the order and partition numbers from the tree. The tree must hold exactly the
    // list's pages; otherwise nothing changes and the answer is false.
    bool ReorderFromTree(const TreeOrder& tree);
    int NextFreeTag() const;

    TLCMPanel* owner = nullptr;

private:
    bool samePartitionAsNeighbour(int i, int j) const;
    std::vector<std::unique_ptr<TLCMSendMsg>> pages_;
};

// Gives every page its first slot as a running sum; answers the slots the whole list occupies.
int AssignSlots(TLCMPanel& screen);

} // namespace mx

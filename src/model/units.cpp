#include "model/units.h"

#include "model/imagepage.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"

#include <algorithm>
#include <set>

namespace mx {

TLCMUnits::~TLCMUnits() { Clear(); }


TLCMSendMsg* TLCMUnits::GetPage(int index) const
{
    return index >= 0 && index < GetCount() ? pages_[size_t(index)].get() : nullptr;
}

int TLCMUnits::IndexOf(const TLCMSendMsg* page) const
{
    for (int i = 0; i < GetCount(); ++i)
        if (pages_[size_t(i)].get() == page)
            return i;
    return -1;
}

std::unique_ptr<TLCMSendMsg> TLCMUnits::CreatePage(uint16_t kind)
{
    switch (kind) {
    case KindText: return std::make_unique<TLCMText>();
    case KindRtf: return std::make_unique<TLCMRtf>();
    case KindImage: return std::make_unique<TLCMImage>();
    case KindTimer: return std::make_unique<TLCMTimer>();
    case KindTemperature: return std::make_unique<TLCMTemperature>();
    case KindConter: return std::make_unique<TLCMConter>();
    case KindTimerEx: return std::make_unique<TTimerEx>();
    default: return nullptr;
    }
}

TLCMSendMsg* TLCMUnits::Insert(int index, uint16_t kind)
{
    auto page = CreatePage(kind);
    if (!page)
        return nullptr;
    TLCMSendMsg* p = page.get();
    index = std::clamp(index, 0, GetCount());
    pages_.insert(pages_.begin() + index, std::move(page));
    p->firstSlot = NextFreeTag();
    p->owner = owner;
    return p;
}

TLCMSendMsg* TLCMUnits::Append(uint16_t kind) { return Insert(GetCount(), kind); }

TLCMSendMsg* TLCMUnits::Adopt(std::unique_ptr<TLCMSendMsg> page)
{
    if (!page)
        return nullptr;
    page->owner = owner;
    pages_.push_back(std::move(page));
    return pages_.back().get();
}

TLCMSendMsg* TLCMUnits::InsertInPartition(int partition, uint16_t kind)
{
    int at = GetCount();
    for (int i = 0; i < GetCount(); ++i)
        if (pages_[size_t(i)]->GetPartition() > partition) {
            at = i;
            break;
        }
    TLCMSendMsg* page = Insert(at, kind);
    if (page)
        page->SetPartition(partition);
    return page;
}

bool TLCMUnits::Remove(TLCMSendMsg* page)
{
    const int i = IndexOf(page);
    return i >= 0 && RemoveAt(i);
}

bool TLCMUnits::RemoveAt(int index)
{
    if (index < 0 || index >= GetCount())
        return false;
    pages_.erase(pages_.begin() + index);
    return true;
}

void TLCMUnits::Clear()
{
    while (!pages_.empty())
        RemoveAt(0);
}

bool TLCMUnits::samePartitionAsNeighbour(int i, int j) const
{
    if (owner && owner->partition->GetCount() < 1)
        return true;
    return pages_[size_t(i)]->GetPartition() == pages_[size_t(j)]->GetPartition();
}

bool TLCMUnits::MoveUp(TLCMSendMsg* page)
{
    const int i = IndexOf(page);
    if (i < 0 || GetCount() == 1 || i == 0)
        return false;
    if (!samePartitionAsNeighbour(i, i - 1))
        return false;
    std::swap(pages_[size_t(i)], pages_[size_t(i - 1)]);
    return true;
}

bool TLCMUnits::MoveDown(TLCMSendMsg* page)
{
    const int i = IndexOf(page);
    if (i < 0 || i >= GetCount() - 1)
        return false;
    if (!samePartitionAsNeighbour(i, i + 1))
        return false;
    std::swap(pages_[size_t(i)], pages_[size_t(i + 1)]);
    return true;
}

bool TLCMUnits::ReorderFromTree(const TreeOrder& tree)
{
    // Every page of the list exactly once: anything else would drop or duplicate pages.
    std::set<const TLCMSendMsg*> seen;
    size_t total = 0;
    for (const auto& group : tree.groups)
        for (const TLCMSendMsg* page : group) {
            if (!page || IndexOf(page) < 0 || !seen.insert(page).second)
                return false;
            ++total;
        }
    if (total != pages_.size())
        return false;

    std::vector<std::unique_ptr<TLCMSendMsg>> order;
    order.reserve(pages_.size());
    for (size_t g = 0; g < tree.groups.size(); ++g)
        for (TLCMSendMsg* page : tree.groups[g]) {
            page->SetPartition(tree.partitionType == 0 ? 0 : int(g) + 1);
            order.push_back(std::move(pages_[size_t(IndexOf(page))]));
            // IndexOf must not find the moved-out slot again
            pages_.erase(std::find(pages_.begin(), pages_.end(), nullptr));
        }
    pages_ = std::move(order);
    return true;
}

int TLCMUnits::NextFreeTag() const
{
    for (int tag = 16;; tag += 16) {
        bool used = false;
        for (const auto& p : pages_)
            if (p->firstSlot == tag) {
                used = true;
                break;
            }
        if (!used)
            return tag;
    }
}

int AssignSlots(TLCMPanel& screen)
{
    int sum = 0;
    for (int i = 0; i < screen.units->GetCount(); ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        page->firstSlot = sum;
        sum += page->GetSlotCount();
    }
    return sum;
}

} // namespace mx

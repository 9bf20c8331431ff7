#include "model/partition.h"

#include "model/panel.h"

#include <algorithm>

namespace mx {

TLCMPartition::TLCMPartition() { kind = KindPartition; }

QString TLCMPartition::GetName() const { return QStringLiteral("分区"); }

const LcmRect* TLCMPartition::GetRect(int index) const
{
    return index >= 0 && index < GetCount() ? &rects_[size_t(index)] : nullptr;
}

void TLCMPartition::DeleteRect(int index)
{
    if (index >= 0 && index < GetCount())
        rects_.erase(rects_.begin() + index);
}

void ResetToSingle(TLCMPanel& screen)
{
    screen.partition->ClearRects();
    screen.partition->AddRect({0, 0, screen.Width(), screen.Height()});
    ReassignPages(screen, 1, 1);
}

void ReassignPages(TLCMPanel& screen, int count, int first)
{
    int fill = first;
    for (int i = 0; i < screen.units->GetCount(); ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        const int n = page->GetPartition();
        if (n == 0 || n > count)
            page->SetPartition(fill);
        else if (n > fill)
            fill = n;
    }
}

int PageRectIndex(const TLCMPanel& screen, const TLCMSendMsg& page)
{
    if (screen.partition->type == PartitionNone)
        return 0;
    const int index = page.GetPartition() - 1;
    return index >= 0 && index < screen.partition->GetCount() ? index : 0;
}

std::optional<LcmRect> PageArea(const TLCMPanel& screen, const TLCMSendMsg& page)
{
    if (const LcmRect* r = screen.partition->GetRect(PageRectIndex(screen, page)))
        return *r;
    return std::nullopt;
}

bool PagePartitionMissing(const TLCMPanel& screen, const TLCMSendMsg& page)
{
    const int n = page.GetPartition();
    return screen.partition->type != PartitionNone && (n == 0 || n > screen.partition->GetCount());
}

void EncodePartitionTable(const TLCMPartition& partition, uint8_t* data)
{
    const int n = std::min(partition.GetCount(), kMaxTablePartitions);
    for (int i = 0; i < n; ++i) {
        const LcmRect& r = *partition.GetRect(i);
        uint8_t* e = data + 8 * i;
        e[0] = 1;
        e[1] = uint8_t(r.left / 8);
        e[2] = uint8_t(r.top / 8);
        e[3] = uint8_t(r.Width() / 8);
        e[4] = uint8_t(r.Height() / 8);
    }
}

void DecodePartitionTable(TLCMPanel& screen, const uint8_t* data)
{
    TLCMPartition& p = *screen.partition;
    p.ClearRects();
    screen.PartitionsSet = data[0] == kPartitionsNoneSet ? 0 : 1;
    int n = 0;
    for (int i = 0; i < kMaxTablePartitions; ++i) {
        const uint8_t* e = data + 8 * i;
        if (e[0] != 1)
            break;
        const int left = e[1] * 8;
        const int top = e[2] * 8;
        p.AddRect({left, top, left + e[3] * 8, top + e[4] * 8});
        ++n;
    }
    ClassifyRects(screen, n);
    // Page numbers stay: a layout set again later finds its pages where they were.
}

void ClassifyRects(TLCMPanel& screen, int n)
{
    TLCMPartition& p = *screen.partition;
    n = std::min(n, p.GetCount());
    if (n <= 1) {
        p.type = PartitionNone;
        p.ClearRects();
        p.AddRect({0, 0, screen.Width(), screen.Height()});
        return;
    }
    const LcmRect& r0 = *p.GetRect(0);
    const LcmRect& r1 = *p.GetRect(1);
    if (n == 2) {
        if (r0.left == r1.left)
            p.type = PartitionUD;
        else if (r0.top == r1.top)
            p.type = PartitionLR;
        return;
    }
    if (n == 3) {
        const LcmRect& r2 = *p.GetRect(2);
        if (r0.top == r1.top && r1.top == r2.top)
            p.type = PartitionLMR;
        else if (r0.left == r1.left && r1.left == r2.left)
            p.type = PartitionUMD;
        else if (r0.top == r1.top && r0.left == r2.left)
            p.type = Partition3_1;
        else if (r1.top == r2.top)
            p.type = Partition3_2;
        else if (r0.left == r1.left)
            p.type = Partition3_3;
        else if (r1.left == r2.left)
            p.type = Partition3_4;
        else
            p.type = PartitionOther;
        return;
    }
    p.type = PartitionOther;
}

} // namespace mx

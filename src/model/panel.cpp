#include "model/panel.h"

namespace mx {

TLCMPanel::TLCMPanel()
{
    kind = KindPanel;
    units = std::make_unique<TLCMUnits>();
    units->owner = this;
    partition = std::make_unique<TLCMPartition>();
    partition->owner = this;
    partition->AddRect({0, 0, Width(), Height()});
    port = std::make_unique<CnComm>(0x03);
    UseDevice({});
}

TLCMPanel::~TLCMPanel() = default;

QString TLCMPanel::GetName() const { return name; }

int TLCMPanel::SerialPortNumber() const { return project ? project->serialPortNumber : ownPortNumber_; }

void TLCMPanel::SetSerialPortNumber(int number)
{
    if (project)
        project->serialPortNumber = number;
    else
        ownPortNumber_ = number;
}

TLCMPanels::~TLCMPanels() { Clear(); }


TLCMPanel* TLCMPanels::GetPanel(int index) const
{
    return index >= 0 && index < Count() ? panels_[size_t(index)].get() : nullptr;
}

int TLCMPanels::IndexOf(const TLCMPanel* panel) const
{
    for (int i = 0; i < Count(); ++i)
        if (panels_[size_t(i)].get() == panel)
            return i;
    return -1;
}

uint16_t TLCMPanels::NextFreeAddress() const
{
    std::vector<bool> used(65536, false);
    for (const auto& p : panels_)
        used[p->address] = true;
    for (int a = 1; a <= 65534; ++a)
        if (!used[size_t(a)])
            return uint16_t(a);
    return 65535;
}

QString TLCMPanels::NextFreeScreenName() const
{
    for (int n = 1;; ++n) {
        const QString candidate = QString::number(n) + QStringLiteral("号屏");
        bool taken = false;
        for (const auto& p : panels_)
            taken = taken || p->name == candidate;
        if (!taken)
            return candidate;
    }
}

TLCMPanel* TLCMPanels::AddPanel()
{
    TLCMPanel* p = Adopt(std::make_unique<TLCMPanel>());
    p->address = NextFreeAddress();
    return p;
}

TLCMPanel* TLCMPanels::Adopt(std::unique_ptr<TLCMPanel> panel)
{
    panel->project = this;
    panels_.push_back(std::move(panel));
    return panels_.back().get();
}

bool TLCMPanels::DeletePanel(int index)
{
    if (index < 0 || index >= Count())
        return false;
    panels_.erase(panels_.begin() + index);
    return true;
}

void TLCMPanels::TakeFrom(TLCMPanels& other)
{
    Clear();
    panels_ = std::move(other.panels_);
    other.panels_.clear();
    for (auto& p : panels_)
        p->project = this;
    serialPortNumber = other.serialPortNumber;
}

void TLCMPanels::Clear()
{
    while (!panels_.empty())
        DeletePanel(0);
}

} // namespace mx

// One LED screen of the project and the project's list of screens.
#pragma once

#include "model/hwcommands.h"
#include "model/partition.h"
#include "model/units.h"

#include <memory>
#include <vector>

namespace mx {

class TLCMPanels;

constexpr int kDefaultBaudRate = 57600;
constexpr int kDefaultPollBudget = 100;
constexpr int kScreenReceiveBufferSize = 1024;

class TLCMPanel : public TLCMObject {
public:
    TLCMPanel();
    ~TLCMPanel() override;
    QString GetName() const override;
    virtual void WriteToFile(RecordWriter& out) const;
    virtual bool ReadFromFile(RecordReader& in);

    int Width() const { return params[Param::Width] * 8; }
    int Height() const { return params[Param::Height] * 8; }
    int ColourType() const { return params[Param::ColourType]; }

    // The project's one serial port number, shared by all its screens.
    int SerialPortNumber() const;
    void SetSerialPortNumber(int number);

    int32_t baudRate = kDefaultBaudRate;
    int32_t pollBudget = kDefaultPollBudget;
    int32_t receiveFill = 0;
    std::array<uint8_t, kScreenReceiveBufferSize> receiveBuffer{};
    ParamRecord params = NewScreenParams();
    uint16_t address = 0;
    QString versionText = QStringLiteral("Unkown");
    QString name = QStringLiteral("Panel?");
    std::unique_ptr<TLCMUnits> units;
    std::unique_ptr<TLCMPartition> partition;
    uint8_t PartitionsSet = 1;

    TLCMPanels* project = nullptr; // set by the list that owns the screen

private:
    int ownPortNumber_ = 1; // used while the screen belongs to no project
};

class TLCMPanels {
public:
    TLCMPanels() = default;
    TLCMPanels(const TLCMPanels&) = delete;
    TLCMPanels& operator=(const TLCMPanels&) = delete;
    virtual void WriteToFile(RecordWriter& out) const;
    virtual bool ReadFromFile(RecordReader& in);
    ~TLCMPanels();

    int Count() const { return int(panels_.size()); }
    TLCMPanel* GetPanel(int index) const;
    int IndexOf(const TLCMPanel* panel) const;
    uint16_t NextFreeAddress() const;
    TLCMPanel* AddPanel();
    // Appends a screen made elsewhere (a project load) without touching its address.
    TLCMPanel* Adopt(std::unique_ptr<TLCMPanel> panel);
    bool DeletePanel(int index);
    void Clear();

    int serialPortNumber = 1;

private:
    std::vector<std::unique_ptr<TLCMPanel>> panels_;
};

} // namespace mx

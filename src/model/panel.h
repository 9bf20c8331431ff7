// One LED screen of the project and the project's list of screens.
#pragma once

#include "link/cncomm.h"
#include "link/protocol.h"
#include "link/transport.h"
#include "model/hwcommands.h"
#include "model/partition.h"
#include "model/units.h"

#include <functional>
#include <memory>
#include <vector>

namespace mx {

class TLCMPanels;

struct PowerSchedule {
    int mode = 0, onHour = 0, onMinute = 0, offHour = 0, offMinute = 0;
};

enum class ParamWriteResult { Ok, Failed, Rejected };

constexpr int kExportRecordSize = ExportTransport::kRecordSize;

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

    // Link. The device operations talk through Link(): the serial line of the project's port
    // number, a device named directly (UseDevice), or a transport lent for a while (the export).
    Transport& Link();
    // An empty path goes back to the project's port number.
    void UseDevice(const QString& devicePath);
    bool OpenLink();
    bool CloseLink();
    void Drain();
    bool Transact(TLCMUnit& command, uint8_t* reply, int attempts);
    bool Connect(bool full);

    // Device operations, in the order of the command table.
    bool ReadVersion();
    bool ReadParameters();
    ParamWriteResult WriteParameters();
    bool SendClear();
    bool SetPowerSchedule(int mode, int onHour, int onMinute, int offHour, int offMinute);
    // The outputs come from the reply buffer even when the exchange failed (all zero then).
    bool ReadPowerSchedule(PowerSchedule& out);
    bool MarkSendAll(uint8_t value);
    bool SetBrightness(uint8_t level);
    bool ReadBrightness(std::array<uint8_t, 32>& out);
    bool SetClock();
    bool WritePartitions();
    bool ReadPartitions();
    bool SendPage(int index, int firstSlot, int* slotsUsed = nullptr);

    // Posted after every packet of a page, as the progress display's step; delivered tells
    // whether the card took it (a single-block page posts it either way).
    std::function<void(bool delivered)> onProgress;
    // Asked before each block of a page; true ends the page there, as a failure.
    std::function<bool()> shouldStop;

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
    std::unique_ptr<CnComm> port;

    TLCMPanels* project = nullptr; // set by the list that owns the screen

private:
    friend class LentTransport;
    // A command without a class of its own, addressed to this screen.
    void prepare(TLCMUnit& unit, uint8_t code) const;
    bool exchange(TLCMUnit& unit, int attempts);

    int ownPortNumber_ = 1; // used while the screen belongs to no project
    std::unique_ptr<Transport> transport_;
    Transport* lent_ = nullptr;
};

// Points a screen's device operations at another transport for the life of the object.
class LentTransport {
public:
    LentTransport(TLCMPanel& screen, Transport& line) : screen_(screen), previous_(screen.lent_)
    {
        screen.lent_ = &line;
    }
    ~LentTransport() { screen_.lent_ = previous_; }
    LentTransport(const LentTransport&) = delete;
    LentTransport& operator=(const LentTransport&) = delete;

private:
    TLCMPanel& screen_;
    Transport* previous_;
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
    // The smallest n from 1 up whose "n号屏" no screen is named.
    QString NextFreeScreenName() const;
    TLCMPanel* AddPanel();
    // Appends a screen made elsewhere (a project load) without touching its address.
    TLCMPanel* Adopt(std::unique_ptr<TLCMPanel> panel);
    bool DeletePanel(int index);
    void Clear();
    // Replaces this project's screens and port number by the other's, which is left empty.
    void TakeFrom(TLCMPanels& other);

    int serialPortNumber = 1;

private:
    std::vector<std::unique_ptr<TLCMPanel>> panels_;
};

} // namespace mx

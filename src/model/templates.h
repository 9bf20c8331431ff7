// Pages whose live values only the controller knows: clock, temperature and humidity,
// countdown, and the extended timer dial. A template's placeholders become field codes.
#pragma once

#include "model/sendmsg.h"

#include <QStringList>

#include <functional>

namespace mx {

QStringList ClockTemplates();
QStringList TemperatureTemplates();

constexpr int kTemplateBufferUnits = 256; // including the terminating NUL

// A page that sends a display template as controller codes.
class TTemplatePage : public TLCMSendMsg {
public:
    void FillPayload() override;
    int GetBlockCount() override;
    int GetSlotCount() override;

    void SetTemplate(const QString& text) { displayTemplate = text; }
    QString GetTemplate() const { return displayTemplate; }

    QString displayTemplate;
    // Set by FillPayload when the expansion reached the work buffer's end and was cut.
    bool truncated = false;

protected:
    // Field codes for the letter between braces; empty when it is not this page's placeholder.
    virtual QList<uint16_t> FieldCodes(char16_t letter) const = 0;
    void PrepareCommon(uint8_t displayType);
};

// Expands placeholders into at most 255 code units; answers them and whether it had to cut.
QList<uint16_t> ExpandTemplate(const QString& text,
                               const std::function<QList<uint16_t>(char16_t)>& codes, bool* cut);

class TLCMTimer : public TTemplatePage {
public:
    TLCMTimer();
    QString GetName() const override;
    void FillPayload() override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

    void SetDialMode(bool on) { SetU8(Rec::DisplayType, on ? DisplayDial : DisplayClock); }
    bool IsDialMode() const { return GetDisplayType() == DisplayDial; }

protected:
    QList<uint16_t> FieldCodes(char16_t letter) const override;
};

class TLCMTemperature : public TTemplatePage {
public:
    TLCMTemperature();
    QString GetName() const override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

protected:
    QList<uint16_t> FieldCodes(char16_t letter) const override;
};

class TLCMConter : public TTemplatePage {
public:
    TLCMConter();
    QString GetName() const override;
    void BuildPacket() override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

    int32_t digitCount = 3;
    double targetDate = 0;

protected:
    QList<uint16_t> FieldCodes(char16_t letter) const override;
};

class TTimerEx : public TLCMSendMsg {
public:
    TTimerEx();
    QString GetName() const override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;
    int GetBlockCount() override;
    int GetSlotCount() override;
    void Prepare() override;
};

} // namespace mx

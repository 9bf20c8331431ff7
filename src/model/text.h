// Plain text in the controller's own font, sent as 16-bit controller character codes.
#pragma once

#include "model/sendmsg.h"

#include <QStringList>
#include <QStringView>

namespace mx {

// The controller code of one UTF-16 code unit.
uint16_t ControllerCode(char16_t unit);
// Writes two bytes per code unit up to the first NUL, never more than capacity bytes;
// answers the byte count written.
int EncodeText(QStringView text, uint8_t* out, int capacity);

constexpr int kTextBufferSize = 1024;

class TLCMText : public TLCMSendMsg {
public:
    TLCMText();

    QString GetName() const override;
    void FillPayload() override;
    int GetBlockCount() override;
    int GetSlotCount() override;
    void Prepare() override;
    void WriteToFile(RecordWriter& out) const override;
    bool ReadFromFile(RecordReader& in) override;

    QStringList lines;
    // Set by Prepare when the lines held more code units than the code buffer; the rest was cut.
    bool truncated = false;

    const uint8_t* Codes() const { return codes_.data(); }

private:
    std::array<uint8_t, kTextBufferSize> codes_{};
};

// The first six code units of a text, as the tree names pages.
QString ShortName(const QString& text);

} // namespace mx

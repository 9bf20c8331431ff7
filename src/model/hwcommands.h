// The commands that read what a controller card is and how its screen is wired, and write
// the wiring back.
#pragma once

#include "model/object.h"
#include "link/protocol.h"

namespace mx {

// width / 8, height / 8, colour type, then the wiring settings; the same bytes in the screen,
// the project file and the write command.
using ParamRecord = std::array<uint8_t, 16>;

namespace Param {
enum : int {
    Width = 0, Height = 1, ColourType = 2, DataPolarity = 3, OePolarity = 4, RowOrder = 5,
    ScanMode = 6, RedGreenSwap = 7, Unused8 = 8, ReduceSkew = 9, DataMirror = 10,
    FieldFrequency = 11, RowDecoding = 12,
};
}

constexpr ParamRecord NewScreenParams() { return {8, 8, 1}; }

enum ColourType : uint8_t { ColourSingle = 1, ColourDouble = 2, ColourFull = 3 };

class TGetHWVersion : public TLCMUnit {
public:
    TGetHWVersion();
    QString GetName() const override;
    void BuildPacket() override;
    bool CheckReply(std::span<const uint8_t> reply) override;

    QString versionText;
};

class TGetHWParam : public TLCMUnit {
public:
    TGetHWParam();
    QString GetName() const override;
    void BuildPacket() override;
    bool CheckReply(std::span<const uint8_t> reply) override;

    ParamRecord params{};
};

class TSetHWParam : public TLCMUnit {
public:
    TSetHWParam();
    QString GetName() const override;
    void BuildPacket() override;
    bool CheckReply(std::span<const uint8_t> reply) override;

    // The card answered with status 0x04: it refused the parameters (screen too large).
    bool Rejected() const { return rejected_; }
    bool Refused() const override { return rejected_; }

    ParamRecord params{};

private:
    bool rejected_ = false;
};


// The version text of a version reply's data bytes 16..19.
QString VersionText(uint8_t model, uint8_t major, uint8_t minor, uint8_t build);

} // namespace mx

#include "model/hwcommands.h"

#include <cstring>

namespace mx {

namespace {
QString hex(uint8_t value, int minDigits)
{
    return QString::number(value, 16).toUpper().rightJustified(minDigits, u'0');
}

void buildPlain(TLCMUnit& unit)
{
    unit.BuildHeader();
    unit.CopyPayload();
    unit.FinishPacket();
}
} // namespace

QString VersionText(uint8_t model, uint8_t major, uint8_t minor, uint8_t build)
{
    return QStringLiteral("ZELT-") + hex(model, 2) + QStringLiteral(" V") + hex(major, 1)
        + QStringLiteral(" .") + hex(minor, 1) + QStringLiteral(" .") + hex(build, 1);
}

TGetHWVersion::TGetHWVersion()
{
    kind = KindGetHWVersion;
    commandCode = 0x35;
}

QString TGetHWVersion::GetName() const { return QStringLiteral("TGetHWVersion"); }
void TGetHWVersion::BuildPacket() { buildPlain(*this); }

bool TGetHWVersion::CheckReply(std::span<const uint8_t> reply)
{
    if (!CheckReplyFrame(reply))
        return false;
    versionText = VersionText(reply[16], reply[17], reply[18], reply[19]);
    return true;
}

TGetHWParam::TGetHWParam()
{
    kind = KindGetHWParam;
    commandCode = 0x24;
}

QString TGetHWParam::GetName() const { return QStringLiteral("TGetHWParam"); }
void TGetHWParam::BuildPacket() { buildPlain(*this); }

bool TGetHWParam::CheckReply(std::span<const uint8_t> reply)
{
    if (!CheckReplyFrame(reply))
        return false;
    ParamRecord p{};
    std::memcpy(&p[0], &reply[16], 7);
    p[7] = reply[23] != 0 ? 1 : 0;
    std::memcpy(&p[8], &reply[24], 5);
    // A card that was never set up answers 0xFF in these.
    for (int i : {Param::DataPolarity, Param::OePolarity, Param::ScanMode})
        if (p[size_t(i)] == 0xFF)
            p[size_t(i)] = 0;
    params = p;
    return true;
}

TSetHWParam::TSetHWParam()
{
    kind = KindSetHWParam;
    commandCode = 0x23;
}

QString TSetHWParam::GetName() const { return QStringLiteral("TSetHWParam"); }

void TSetHWParam::BuildPacket()
{
    BuildHeader();
    std::memcpy(Packet() + kParamOffset, params.data(), params.size());
    CopyPayload();
    FinishPacket();
}

bool TSetHWParam::CheckReply(std::span<const uint8_t> reply)
{
    rejected_ = false;
    if (!CheckReplyFrame(reply))
        return false;
    if (reply[13] == kStatusParamsRejected) {
        rejected_ = true;
        return false;
    }
    return true;
}

} // namespace mx

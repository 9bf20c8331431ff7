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
    commandCode = CmdReadVersion;
}

QString TGetHWVersion::GetName() const { return QStringLiteral("TGetHWVersion"); }
void TGetHWVersion::BuildPacket() { buildPlain(*this); }

bool TGetHWVersion::CheckReply(std::span<const uint8_t> reply)
{
    if (!CheckReplyFrame(reply))
        return false;
    const uint8_t* d = reply.data() + kReplyData;
    versionText = VersionText(d[0], d[1], d[2], d[3]);
    return true;
}

TGetHWParam::TGetHWParam()
{
    kind = KindGetHWParam;
    commandCode = CmdReadParams;
}

QString TGetHWParam::GetName() const { return QStringLiteral("TGetHWParam"); }
void TGetHWParam::BuildPacket() { buildPlain(*this); }

bool TGetHWParam::CheckReply(std::span<const uint8_t> reply)
{
    if (!CheckReplyFrame(reply))
        return false;
    const uint8_t* d = reply.data() + kReplyData;
    ParamRecord p{};
    std::memcpy(&p[0], d, 7);
    p[7] = d[7] != 0 ? 1 : 0;
    std::memcpy(&p[8], d + 8, 5);
    for (int i : {Param::DataPolarity, Param::OePolarity, Param::ScanMode})
        if (p[size_t(i)] == kParamUnset)
            p[size_t(i)] = 0;
    params = p;
    return true;
}

TSetHWParam::TSetHWParam()
{
    kind = KindSetHWParam;
    commandCode = CmdWriteParams;
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
    if (reply[kReplyStatus] == kStatusParamsRejected) {
        rejected_ = true;
        return false;
    }
    return true;
}

} // namespace mx

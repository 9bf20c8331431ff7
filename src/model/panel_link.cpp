// The screen's device operations: one command packet, one 52-byte reply, with retries.
#include "link/engine_env.h"
#include "link/transport.h"
#include "model/page_checks.h"
#include "model/panel.h"

#include <QThread>

#include <cstring>

namespace mx {

namespace {
constexpr int kReplyArea = 128;

void settle(int ms)
{
    QThread::msleep(ulong(ms));
}
} // namespace

Transport& TLCMPanel::Link() { return lent_ ? *lent_ : *transport_; }

void TLCMPanel::UseDevice(const QString& devicePath)
{
    if (transport_)
        transport_->Close();
    if (devicePath.isEmpty())
        transport_ = std::make_unique<SerialTransport>(*port, [this] { return SerialPortNumber(); });
    else
        transport_ = std::make_unique<SerialTransport>(*port, devicePath);
}

bool TLCMPanel::OpenLink()
{
    return Link().Open(baudRate);
}

bool TLCMPanel::CloseLink()
{
    Link().Close();
    return true;
}

void TLCMPanel::Drain()
{
    PollInput(Link(), receiveBuffer.data(), receiveFill);
    receiveFill = 0;
}

bool TLCMPanel::Transact(TLCMUnit& command, uint8_t* reply, int attempts)
{
    Transport& line = Link();
    if (!line.Answers())
        return line.Write(command.Packet(), command.PacketLength()); // the record is the exchange
    while (attempts-- > 0) {
        Drain();
        line.Write(command.Packet(), command.PacketLength());
        if (!ReceiveExact(line, reply, kReplySize, receiveBuffer.data(), receiveFill, pollBudget)) {
            // A line that vanished will not come back within this exchange.
            if (line.Vanished() || !line.IsOpen())
                return false;
            Pump();
            continue;
        }
        const auto* start = static_cast<const uint8_t*>(std::memchr(reply, kReplyStart, kReplySize));
        if (!start)
            return false; // a burst of noise: the card is not a controller we can talk to
        const int i = int(start - reply);
        if (i > 0) {
            std::memmove(reply, reply + i, size_t(kReplySize - i));
            // If they do not come, the stale tail fails the check below.
            ReceiveExact(line, reply + kReplySize - i, i, receiveBuffer.data(), receiveFill, pollBudget);
        }
        if (command.CheckReply(std::span<const uint8_t>(reply, kReplySize))) {
            settle(10);
            settle(10);
            return true;
        }
        Pump();
        settle(10);
        settle(10);
        if (command.Refused())
            return false;
    }
    return false;
}

bool TLCMPanel::Connect(bool full)
{
    if (!OpenLink() || !ReadVersion())
        return false;
    if (!full)
        return true;
    return ReadParameters() && ReadPartitions();
}

void TLCMPanel::prepare(TLCMUnit& unit, uint8_t code) const
{
    unit.commandCode = code;
    unit.address = address;
    unit.BuildHeader();
}

bool TLCMPanel::exchange(TLCMUnit& unit, int attempts)
{
    uint8_t reply[kReplyArea] = {};
    return Transact(unit, reply, attempts);
}

bool TLCMPanel::ReadVersion()
{
    TGetHWVersion cmd;
    cmd.address = address;
    cmd.BuildPacket();
    uint8_t reply[kReplyArea] = {};
    if (!Transact(cmd, reply, 2))
        return false;
    versionText = cmd.versionText;
    return true;
}

bool TLCMPanel::ReadParameters()
{
    TGetHWParam cmd;
    cmd.address = address;
    cmd.BuildPacket();
    uint8_t reply[kReplyArea] = {};
    if (!Transact(cmd, reply, 2))
        return false;
    params = cmd.params;
    return true;
}

ParamWriteResult TLCMPanel::WriteParameters()
{
    TSetHWParam cmd;
    cmd.params = params;
    cmd.address = address;
    cmd.BuildPacket();
    uint8_t reply[kReplyArea] = {};
    if (Transact(cmd, reply, 1)) {
        params = cmd.params;
        return ParamWriteResult::Ok;
    }
    return cmd.Rejected() ? ParamWriteResult::Rejected : ParamWriteResult::Failed;
}

bool TLCMPanel::SendClear()
{
    TLCMUnit unit;
    prepare(unit, CmdClear);
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::SetPowerSchedule(int mode, int onHour, int onMinute, int offHour, int offMinute)
{
    TLCMUnit unit;
    prepare(unit, CmdSetPowerSchedule);
    uint8_t* p = unit.Packet() + kParamOffset;
    p[0] = uint8_t(mode);
    p[1] = ToBcd(onHour);
    p[2] = ToBcd(onMinute);
    p[3] = ToBcd(offHour);
    p[4] = ToBcd(offMinute);
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::ReadPowerSchedule(PowerSchedule& out)
{
    TLCMUnit unit;
    prepare(unit, CmdReadPowerSchedule);
    unit.FinishPacket();
    uint8_t reply[kReplyArea] = {};
    const bool ok = Transact(unit, reply, 2);
    // Data byte 0 is not part of the schedule.
    const uint8_t* d = reply + kReplyData + 1;
    out.mode = d[0];
    out.onHour = FromBcd(d[1]);
    out.onMinute = FromBcd(d[2]);
    out.offHour = FromBcd(d[3]);
    out.offMinute = FromBcd(d[4]);
    return ok;
}

bool TLCMPanel::MarkSendAll(uint8_t value)
{
    TLCMUnit unit;
    prepare(unit, CmdMarkSendAll);
    unit.Packet()[kParamOffset] = value;
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::SetBrightness(uint8_t level)
{
    TLCMUnit unit;
    prepare(unit, CmdSetBrightness);
    unit.Packet()[kParamOffset] = level;
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::ReadBrightness(std::array<uint8_t, 32>& out)
{
    TLCMUnit unit;
    prepare(unit, CmdReadBrightness);
    unit.FinishPacket();
    uint8_t reply[kReplyArea] = {};
    if (!Transact(unit, reply, 2))
        return false;
    std::memcpy(out.data(), reply + kReplyData, 32);
    return true;
}

bool TLCMPanel::SetClock()
{
    TLCMUnit unit;
    prepare(unit, CmdSetClock);
    const QDateTime now = Now();
    uint8_t* p = unit.Packet() + kParamOffset;
    p[0] = ToBcd(now.date().year() % 100);
    p[1] = ToBcd(now.date().month());
    p[2] = ToBcd(now.date().day());
    p[3] = ToBcd(now.time().hour());
    p[4] = ToBcd(now.time().minute());
    p[5] = ToBcd(now.time().second());
    p[6] = ToBcd(now.date().dayOfWeek()); // 1 Monday ... 7 Sunday
    p[7] = 1;
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::WritePartitions()
{
    TLCMUnit unit;
    prepare(unit, CmdWritePartitions);
    EncodePartitionTable(*partition, unit.Packet() + kParamOffset);
    unit.FinishPacket();
    return exchange(unit, 2);
}

bool TLCMPanel::ReadPartitions()
{
    TLCMUnit unit;
    prepare(unit, CmdReadPartitions);
    unit.FinishPacket();
    uint8_t reply[kReplyArea] = {};
    if (!Transact(unit, reply, 2))
        return false;
    DecodePartitionTable(*this, reply + kReplyData);
    return true;
}

bool TLCMPanel::SendPage(int index, int firstSlot, int* slotsUsed)
{
    if (slotsUsed)
        *slotsUsed = 0;
    TLCMSendMsg* page = units->GetPage(index);
    if (!page || !PageRefusal(*page).isEmpty())
        return false; // nothing of a page the card cannot take leaves the program
    page->firstSlot = firstSlot;
    page->SetU16(Rec::ProgramNumber, uint16_t(firstSlot));
    const bool multiBlock = page->kind == KindRtf || page->kind == KindImage;
    page->address = address;
    page->Prepare();
    if (page->GetBlockCount() == 0)
        return true;

    // The page goes out as the page of the rectangle it plays in; its stored number stays.
    struct PartitionAsPlayed {
        TLCMSendMsg& page;
        int stored;
        ~PartitionAsPlayed() { page.SetPartition(stored); }
    } played{*page, page->GetPartition()};
    if (page->GetPartition() != 0)
        page->SetPartition(PageRectIndex(*this, *page) + 1);

    // A single block reports progress whatever its result; a multi-block page only for blocks
    // that arrived, since it stops at the first failure.
    auto sendBlock = [&](bool progressOnFailure) {
        if (shouldStop && shouldStop())
            return false;
        page->FillPayload();
        page->BuildPacket();
        uint8_t reply[kReplyArea] = {};
        const bool ok = Transact(*page, reply, 2);
        if ((ok || progressOnFailure) && onProgress)
            onProgress(ok);
        Pump();
        return ok;
    };

    if (!multiBlock) {
        if (slotsUsed)
            *slotsUsed = 1;
        page->blockIndex = 0;
        return sendBlock(true);
    }
    if (slotsUsed)
        *slotsUsed = page->GetSlotCount();
    for (int i = 0; i < page->GetBlockCount(); ++i) {
        page->blockIndex = i;
        if (!sendBlock(false))
            return false;
    }
    return true;
}

} // namespace mx

#include "flows/flows.h"

#include "link/engine_env.h"
#include "model/rtfpage.h"
#include "render/rich_text.h"

#include <QElapsedTimer>
#include <QThread>

namespace mx {

namespace {

FlowResult result(Outcome o, const QString& detail = {}) { return {o, detail, {}, {}}; }

// Closes the port on the way out of every flow, whatever path it takes.
struct LinkGuard {
    TLCMPanel& screen;
    ~LinkGuard() { screen.CloseLink(); }
};

FlowResult noController(TLCMPanel& screen) { return result(Outcome::NoController, LineDetail(screen)); }
FlowResult timeout(TLCMPanel& screen) { return result(Outcome::Timeout, LineDetail(screen)); }
FlowResult successOr(bool ok, TLCMPanel& screen) { return ok ? result(Outcome::Success) : timeout(screen); }

QString colourTypeName(int type)
{
    switch (type) {
    case 1: return QStringLiteral("single colour");
    case 2: return QStringLiteral("red and green");
    case 3: return QStringLiteral("full colour");
    default: return QStringLiteral("colour type %1").arg(type);
    }
}

// The layout and parameters a full connection replaces, put back when a send does not go ahead.
struct ScreenSnapshot {
    explicit ScreenSnapshot(const TLCMPanel& s)
        : params(s.params), type(s.partition->type), rects(s.partition->Rects()), partitionsSet(s.PartitionsSet)
    {
    }
    void Restore(TLCMPanel& s) const
    {
        s.params = params;
        s.partition->type = type;
        s.partition->ClearRects();
        for (const LcmRect& r : rects)
            s.partition->AddRect(r);
        s.PartitionsSet = partitionsSet;
    }
    ParamRecord params;
    int8_t type;
    std::vector<LcmRect> rects;
    uint8_t partitionsSet;
};

} // namespace

QString LineDetail(TLCMPanel& screen, const QString& otherwise)
{
    Transport& line = screen.Link();
    if (line.Vanished())
        return QStringLiteral("the line went away: %1").arg(line.Name());
    if (!line.IsOpen() && !line.OpenError().isEmpty())
        return line.OpenError();
    return otherwise;
}

QString ScreenMismatch::Describe() const
{
    return QStringLiteral("the card's screen is %1 x %2 %3; the project's is %4 x %5 %6")
        .arg(cardWidth)
        .arg(cardHeight)
        .arg(colourTypeName(cardColourType))
        .arg(projectWidth)
        .arg(projectHeight)
        .arg(colourTypeName(projectColourType));
}

FlowResult SendAllPages(TLCMPanel& screen, const SendOptions& options)
{
    FlowResult out;
    if (screen.units->GetCount() == 0)
        return result(Outcome::NothingToSend);
    LinkGuard guard{screen};
    QElapsedTimer clock;
    clock.start();
    SendSummary& sum = out.summary;
    auto finish = [&](Outcome o, const QString& detail = {}) {
        sum.ms = clock.elapsed();
        out.outcome = o;
        out.detail = detail;
        return out;
    };

    const ScreenSnapshot before(screen);
    if (!screen.Connect(true))
        return finish(Outcome::Timeout, LineDetail(screen, QStringLiteral("the card did not answer the connection")));
    if (screen.Width() != before.params[Param::Width] * 8 || screen.Height() != before.params[Param::Height] * 8
        || screen.ColourType() != before.params[Param::ColourType]) {
        const ScreenMismatch m{before.params[Param::Width] * 8, before.params[Param::Height] * 8,
                               before.params[Param::ColourType], screen.Width(), screen.Height(), screen.ColourType()};
        if (!options.confirmScreen || !options.confirmScreen(m)) {
            before.Restore(screen); // the project keeps the screen it was made for
            return finish(Outcome::ScreenMismatch, m.Describe());
        }
    }

    // Every page is laid out and checked before the card's program is touched.
    const ProgramCheck check = CheckProgram(screen, options.render, kProgramSlots);
    out.warnings = check.warnings;
    if (check.outcome != Outcome::Success)
        return finish(check.outcome, check.detail);

    if (!screen.MarkSendAll(0))
        return finish(Outcome::Timeout, LineDetail(screen, QStringLiteral("the card did not take the start of the download")));
    sum.bytes += kFrameOverhead;

    SendEvent event;
    event.totalPackets = std::max(1, check.packets);
    int posted = 0;
    screen.onProgress = [&](bool delivered) {
        ++posted;
        event.percent = std::min(99, posted * 100 / event.totalPackets);
        if (delivered) {
            ++event.packets;
            if (TLCMSendMsg* p = screen.units->GetPage(event.page))
                event.bytes += p->PacketLength();
        }
        if (options.progress)
            options.progress(event);
    };
    screen.shouldStop = options.stop;

    const ProgramWalk walk = WalkProgram(
        screen, kProgramSlots,
        [&](int index, int firstSlot, int* used) {
            event.page = index;
            event.programNumber = firstSlot;
            const bool sent = screen.SendPage(index, firstSlot, used);
            if (sent)
                QThread::msleep(10);
            return sent;
        },
        options.stop);
    screen.onProgress = {};
    screen.shouldStop = {};
    sum.pages = walk.pages;
    sum.slots = walk.slots;
    sum.packets = event.packets;
    sum.bytes += event.bytes;

    // Every way out after the start mark sends the end mark, so the card leaves its download state.
    const bool ended = screen.MarkSendAll(1);
    if (ended)
        sum.bytes += kFrameOverhead;
    if (walk.outcome != Outcome::Success) {
        QString detail = walk.detail;
        if (const QString line = LineDetail(screen); walk.outcome == Outcome::Timeout && !line.isEmpty())
            detail += QStringLiteral("; ") + line;
        if (!walk.missing.isEmpty() && walk.outcome != Outcome::Stopped)
            detail += QStringLiteral("; not on the card: ") + walk.missing.join(QStringLiteral(", "));
        return finish(walk.outcome, detail);
    }
    if (!ended)
        return finish(Outcome::Timeout, LineDetail(screen, QStringLiteral("the card did not take the end of the download")));
    event.percent = 100;
    if (options.progress)
        options.progress(event);
    Pump();
    return finish(Outcome::Success);
}

FlowResult ClearScreen(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(true))
        return noController(screen);
    return successOr(screen.SendClear(), screen);
}

FlowResult SendPartitionLayout(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return noController(screen);
    const bool cleared = screen.SendClear(); // a failed clear does not keep the layout back
    if (!screen.WritePartitions())
        return timeout(screen);
    return cleared ? result(Outcome::Success)
                   : result(Outcome::Timeout, QStringLiteral("the partitions were written, but the clear got no reply"));
}

FlowResult ReadScreenParameters(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(true))
        return result(Outcome::ParamsNotRead, LineDetail(screen));
    return result(Outcome::ParamsRead);
}

FlowResult WriteScreenParameters(TLCMPanel& screen, const ParamRecord& working)
{
    LinkGuard guard{screen};
    screen.params = working;
    if (!screen.Connect(false))
        return noController(screen);
    switch (screen.WriteParameters()) {
    case ParamWriteResult::Rejected: return result(Outcome::ParamsRejected);
    case ParamWriteResult::Failed: return noController(screen);
    case ParamWriteResult::Ok: break;
    }
    return successOr(screen.SendClear(), screen);
}

FlowResult ReadBrightness(TLCMPanel& screen, int* level)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return noController(screen);
    std::array<uint8_t, 32> data{};
    if (!screen.ReadBrightness(data))
        return timeout(screen);
    if (level)
        *level = data[0] & 0x0F;
    return result(Outcome::Success);
}

FlowResult SetBrightness(TLCMPanel& screen, int level)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return noController(screen);
    return successOr(screen.SetBrightness(uint8_t(level)), screen);
}

PowerSchedule DefaultPowerSchedule() { return {0, 9, 0, 21, 0}; }

PowerSchedule PowerScheduleOnOpen(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    PowerSchedule values = DefaultPowerSchedule();
    PowerSchedule read;
    if (screen.Connect(false) && screen.ReadPowerSchedule(read)) {
        values = read;
        if (values.mode > 2)
            values.mode = 0;
        if (values.onHour > 23)
            values.onHour = 9;
        if (values.onMinute >= 60)
            values.onMinute = 0;
        if (values.offHour > 23)
            values.offHour = 21;
        if (values.offMinute >= 60)
            values.offMinute = 0;
    }
    return values;
}

FlowResult ReadPowerScheduleAsIs(TLCMPanel& screen, PowerSchedule& values)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return noController(screen);
    PowerSchedule read;
    if (!screen.ReadPowerSchedule(read))
        return timeout(screen);
    values = read;
    return result(Outcome::Success);
}

FlowResult SendPowerSchedule(TLCMPanel& screen, const PowerSchedule& v)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return noController(screen);
    return successOr(screen.SetPowerSchedule(v.mode, v.onHour, v.onMinute, v.offHour, v.offMinute), screen);
}

FlowResult SyncClock(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(true))
        return noController(screen);
    return successOr(screen.SetClock(), screen);
}

} // namespace mx

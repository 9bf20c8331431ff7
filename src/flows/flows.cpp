#include "flows/flows.h"

#include "link/engine_env.h"
#include "model/rtfpage.h"
#include "render/rich_text.h"

#include <QElapsedTimer>
#include <QThread>

namespace mx {

namespace {

FlowResult result(Outcome o, const QString& detail = {}) { return {o, detail, {}}; }

// Closes the port on the way out of every flow, whatever path it takes.
struct LinkGuard {
    TLCMPanel& screen;
    ~LinkGuard() { screen.CloseLink(); }
};

} // namespace

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

    if (!screen.Connect(true))
        return finish(Outcome::Timeout, QStringLiteral("the card did not answer the connection"));
    if (!screen.MarkSendAll(0))
        return finish(Outcome::Timeout, QStringLiteral("the card did not take the start of the download"));
    sum.bytes += kFrameOverhead;

    const int totalSlots = std::max(1, AssignSlots(screen));
    const int step = 100 / totalSlots;
    int percent = 0;
    SendEvent event;
    screen.onProgress = [&] {
        percent = std::min(99, percent + std::max(step, 1));
        event.percent = percent;
        ++event.packets;
        if (TLCMSendMsg* p = screen.units->GetPage(event.page))
            event.bytes += p->PacketLength();
        if (options.progress)
            options.progress(event);
    };
    screen.shouldStop = options.stop;

    // Every way out after the start mark sends the end mark, so the card leaves its download state.
    auto abort = [&](Outcome o, const QString& detail) {
        screen.onProgress = {};
        screen.shouldStop = {};
        sum.packets = event.packets;
        sum.bytes += event.bytes;
        if (screen.MarkSendAll(1))
            sum.bytes += kFrameOverhead;
        return finish(o, detail);
    };

    int next = 1;
    const int count = screen.units->GetCount();
    for (int i = 0; i < count; ++i) {
        TLCMSendMsg* page = screen.units->GetPage(i);
        const QString label = QStringLiteral("page %1 (%2)").arg(i + 1).arg(page->GetName());
        if (page->kind == KindRtf) {
            QString why;
            const auto& render = options.render ? options.render : LayOutRichText;
            if (!render(static_cast<TLCMRtf&>(*page), screen, &why))
                return abort(Outcome::RenderFailed, label + QStringLiteral(" could not be laid out: ") + why);
        }
        event.page = i;
        event.programNumber = next;
        int used = 0;
        const bool sent = screen.SendPage(i, next, nullptr, false, &used);
        if (options.stop && options.stop())
            return abort(Outcome::Stopped, QStringLiteral("stopped before ") + label + QStringLiteral(" was complete"));
        if (!sent)
            return abort(Outcome::Timeout, label + (page->kind == KindTimerEx
                                                        ? QStringLiteral(" is a kind the card cannot take")
                                                        : QStringLiteral(" got no valid reply")));
        next += used;
        sum.pages += 1;
        sum.slots += used;
        // LED pages past the 30 a page may hold are dropped by design; past slot 80 they are lost.
        const bool cut =
            page->kind == KindRtf && std::min(static_cast<TLCMRtf*>(page)->LedPageEntries(), kMaxRtfSlots) > used;
        // Slots 1 to 80 all count: a program of exactly 80 fits.
        if (cut || (next > kProgramSlots && i + 1 < count))
            return abort(Outcome::ProgramFull, cut ? label + QStringLiteral(" does not fit in the slots left")
                                                   : QStringLiteral("pages after %1 do not fit").arg(label));
        QThread::msleep(10);
    }
    screen.onProgress = {};
    screen.shouldStop = {};
    sum.packets = event.packets;
    sum.bytes += event.bytes;
    if (!screen.MarkSendAll(1))
        return finish(Outcome::Timeout, QStringLiteral("the card did not take the end of the download"));
    sum.bytes += kFrameOverhead;
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
        return result(Outcome::NoController);
    return result(screen.SendClear() ? Outcome::Success : Outcome::Timeout);
}

FlowResult SendPartitionLayout(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return result(Outcome::NoController);
    const bool cleared = screen.SendClear(); // a failed clear does not keep the layout back
    if (!screen.WritePartitions())
        return result(Outcome::Timeout);
    return cleared ? result(Outcome::Success)
                   : result(Outcome::Timeout, QStringLiteral("the partitions were written, but the clear got no reply"));
}

FlowResult ReadScreenParameters(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    return result(screen.Connect(true) ? Outcome::ParamsRead : Outcome::ParamsNotRead);
}

FlowResult WriteScreenParameters(TLCMPanel& screen, const ParamRecord& working)
{
    LinkGuard guard{screen};
    screen.params = working;
    if (!screen.Connect(false))
        return result(Outcome::NoController);
    switch (screen.WriteParameters()) {
    case ParamWriteResult::Rejected: return result(Outcome::ParamsRejected);
    case ParamWriteResult::Failed: return result(Outcome::NoController);
    case ParamWriteResult::Ok: break;
    }
    return result(screen.SendClear() ? Outcome::Success : Outcome::Timeout);
}

FlowResult ReadBrightness(TLCMPanel& screen, int* level)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return result(Outcome::NoController);
    std::array<uint8_t, 32> data{};
    if (!screen.ReadBrightness(data))
        return result(Outcome::Timeout);
    if (level)
        *level = data[0] & 0x0F;
    return result(Outcome::Success);
}

FlowResult SetBrightness(TLCMPanel& screen, int level)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return result(Outcome::NoController);
    return result(screen.SetBrightness(uint8_t(level)) ? Outcome::Success : Outcome::Timeout);
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
        return result(Outcome::NoController);
    PowerSchedule read;
    if (!screen.ReadPowerSchedule(read))
        return result(Outcome::Timeout);
    values = read;
    return result(Outcome::Success);
}

FlowResult SendPowerSchedule(TLCMPanel& screen, const PowerSchedule& v)
{
    LinkGuard guard{screen};
    if (!screen.Connect(false))
        return result(Outcome::NoController);
    return result(screen.SetPowerSchedule(v.mode, v.onHour, v.onMinute, v.offHour, v.offMinute) ? Outcome::Success
                                                                                               : Outcome::Timeout);
}

FlowResult SyncClock(TLCMPanel& screen)
{
    LinkGuard guard{screen};
    if (!screen.Connect(true))
        return result(Outcome::NoController);
    return result(screen.SetClock() ? Outcome::Success : Outcome::Timeout);
}

} // namespace mx

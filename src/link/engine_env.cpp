#include "link/engine_env.h"

#include <cmath>

namespace mx {
namespace {
ClockFn& clockFn()
{
    static ClockFn fn;
    return fn;
}
PumpFn& pumpFn()
{
    static PumpFn fn;
    return fn;
}
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;
// Beyond this the value names no calendar date QDate can hold sensibly.
constexpr double kMaxDays = 3.0e6;
} // namespace

QDateTime Now()
{
    return clockFn() ? clockFn()() : QDateTime::currentDateTime();
}

void SetClock(ClockFn clock)
{
    clockFn() = std::move(clock);
}

void Pump()
{
    if (pumpFn())
        pumpFn()();
}

void SetPump(PumpFn pump)
{
    pumpFn() = std::move(pump);
}

double ToLcmDateTime(const QDateTime& dt)
{
    const qint64 days = kEpoch.daysTo(dt.date());
    const double frac = double(dt.time().msecsSinceStartOfDay()) / double(kMsPerDay);
    // Before the epoch the fraction still counts forward from midnight, as the stored format does.
    return days >= 0 ? double(days) + frac : double(days) - frac;
}

QDate LcmDate(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > kMaxDays)
        return {};
    return kEpoch.addDays(qint64(std::trunc(value)));
}

QTime LcmTime(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > kMaxDays)
        return {};
    double frac = std::fabs(value - std::trunc(value));
    qint64 ms = std::llround(frac * double(kMsPerDay));
    if (ms >= kMsPerDay)
        ms = kMsPerDay - 1;
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

} // namespace mx

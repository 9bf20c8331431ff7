// The engine's view of time and of the program around it: one clock and one pump, both
// replaceable, so tests can fix "today" and a window can repaint while the engine waits.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <functional>

namespace mx {

using ClockFn = std::function<QDateTime()>;
using PumpFn = std::function<void()>;

// Local date and time as the engine sees it. Defaults to the system clock.
QDateTime Now();
// Replaces the clock; an empty function restores the system clock.
void SetClock(ClockFn clock);

// Lets the program around the engine process its pending events. The desktop tool installs
// one that processes window events; by default it does nothing.
void Pump();
void SetPump(PumpFn pump);

// Dates in the model and in project files: days since 30 December 1899, the fraction being
// the time of day.
double ToLcmDateTime(const QDateTime& dt);
QDate LcmDate(double value);   // date part; invalid for NaN or values out of range
QTime LcmTime(double value);   // time of day, to the millisecond; invalid for NaN

} // namespace mx

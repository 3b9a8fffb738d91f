#pragma once
// Periodic ticks for the streaming worker, taken by sleeping to each tick's absolute
// deadline (start + k * period) on a TickSource: no timer thread, no hand-off, no drift.
// Deadlines that pass while the caller is late, or while its sleep overran, collapse into
// the one tick it gets at once; the ticks after it keep to the original schedule. A wait may
// be cut short by a wake event (a page asks for the worker); the tick then stays due. Used
// by one thread.

#include <cstdint>

#include "engine/ticksource.h"

namespace platform {
class WakeEvent;
}

enum class TickWait { Tick, TimedOut, Woken };

class PeriodicTicks {
public:
    explicit PeriodicTicks(TickSource& source) : m_source(source) {}

    // Starts a new schedule: a tick every periodMs (at least 1), the first one period from
    // now. Nothing of a previous schedule stays pending.
    void Arm(uint32_t periodMs);
    // The same with the first tick at firstNs (now, when that has passed): a schedule that
    // takes over from another's last packet without a gap.
    void ArmAt(int64_t firstNs, uint32_t periodMs);
    // Tick once the next deadline is reached. TimedOut, after sleeping timeoutMs, when no
    // deadline falls within that time; TimedOut at once when the sleep failed. With `wake`,
    // Woken as soon as it is signalled, the deadline still ahead.
    TickWait Wait(uint32_t timeoutMs, const platform::WakeEvent* wake = nullptr);
    // The deadline of the tick Wait last returned (the earliest missed one for a late tick).
    int64_t LastDeadlineNs() const { return m_lastDeadlineNs; }
    // The deadline the next Tick stands for.
    int64_t NextDeadlineNs() const { return m_nextNs; }
    int64_t PeriodNs() const { return m_periodNs; }

private:
    TickSource& m_source;
    int64_t m_periodNs = 0;
    int64_t m_nextNs = 0;
    int64_t m_lastDeadlineNs = 0;
};

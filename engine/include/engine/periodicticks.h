#pragma once
// Periodic ticks for the streaming worker, taken by sleeping to each tick's absolute
// deadline (start + k * period) on a TickSource: no timer thread, no hand-off, no drift.
// Deadlines that pass while the caller is late, or while its sleep overran, collapse into
// the one tick it gets at once; the ticks after it keep to the original schedule. Used by
// one thread.

#include <cstdint>

#include "engine/ticksource.h"

enum class TickWait { Tick, TimedOut };

class PeriodicTicks {
public:
    explicit PeriodicTicks(TickSource& source) : m_source(source) {}

    // Starts a new schedule: a tick every periodMs (at least 1), the first one period from
    // now. Nothing of a previous schedule stays pending.
    void Arm(uint32_t periodMs);
    // Tick once the next deadline is reached. TimedOut, after sleeping timeoutMs, when no
    // deadline falls within that time; TimedOut at once when the sleep failed.
    TickWait Wait(uint32_t timeoutMs);
    // The deadline of the tick Wait last returned (the earliest missed one for a late tick).
    int64_t LastDeadlineNs() const { return m_lastDeadlineNs; }

private:
    TickSource& m_source;
    int64_t m_periodNs = 0;
    int64_t m_nextNs = 0;
    int64_t m_lastDeadlineNs = 0;
};

#include "server/scheduler.h"

#include <algorithm>

namespace {

// How many occurrences a catch-up looks through before it settles for the last it found.
constexpr int kMaxCatchUpSteps = 100000;

bool SameTimes(const Scheduler::Entry& a, const Scheduler::Entry& b) {
    return a.id == b.id && a.when == b.when && a.until == b.until;
}

}  // namespace

void Scheduler::Load(const std::vector<Entry>& entries, int64_t nowSeconds) {
    std::vector<Event> events;
    for (const Entry& entry : entries) {
        Event event;
        event.entry = entry;
        event.when = CalendarPattern::Parse(entry.when);
        if (!event.when.Valid()) {
            continue;
        }
        if (!entry.until.empty()) {
            event.until = CalendarPattern::Parse(entry.until);
            event.hasUntil = event.until.Valid();
        }
        const auto kept = std::find_if(m_events.begin(), m_events.end(),
                                       [&](const Event& e) { return SameTimes(e.entry, entry); });
        // An event already held keeps its next occurrence; a new one may fire this second.
        event.next = kept != m_events.end() ? kept->next : event.when.NextAfter(nowSeconds - 1);
        events.push_back(std::move(event));
    }
    m_events = std::move(events);
    m_lastNow = nowSeconds;
}

Scheduler::Firing Scheduler::Fire(const Event& event, int64_t occurrence) const {
    Firing firing;
    firing.entry = event.entry;
    firing.occurrence = occurrence;
    firing.stopAt = event.hasUntil ? event.until.NextAfter(occurrence) : -1;
    return firing;
}

std::vector<Scheduler::Firing> Scheduler::CatchUp(int64_t lastSeenSeconds,
                                                  int64_t nowSeconds) const {
    std::vector<Firing> firings;
    for (const Event& event : m_events) {
        if (!event.entry.catchUp) {
            continue;
        }
        int64_t latest = -1;
        int64_t t = event.when.NextAfter(lastSeenSeconds);
        for (int step = 0; t >= 0 && t < nowSeconds && step < kMaxCatchUpSteps; ++step) {
            latest = t;
            t = event.when.NextAfter(t);
        }
        if (latest < 0) {
            continue;
        }
        Firing firing = Fire(event, latest);
        if (firing.stopAt < 0 || firing.stopAt > nowSeconds) {
            firings.push_back(std::move(firing));
        }
    }
    return firings;
}

std::vector<Scheduler::Firing> Scheduler::Due(int64_t nowSeconds) {
    std::vector<Firing> firings;
    const bool setBack = nowSeconds < m_lastNow - kGraceSeconds;
    m_lastNow = nowSeconds;
    for (Event& event : m_events) {
        if (setBack) {
            event.next = event.when.NextAfter(nowSeconds - 1);
        }
        if (event.next < 0 || event.next > nowSeconds) {
            continue;
        }
        if (nowSeconds - event.next <= kGraceSeconds || event.entry.catchUp) {
            firings.push_back(Fire(event, event.next));
        }
        event.next = event.when.NextAfter(nowSeconds);
    }
    return firings;
}

int64_t Scheduler::NextSeconds() const {
    int64_t next = -1;
    for (const Event& event : m_events) {
        if (event.next >= 0 && (next < 0 || event.next < next)) {
            next = event.next;
        }
    }
    return next;
}

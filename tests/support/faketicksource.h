#pragma once
// A clock the test drives, in place of the monotonic clock the streaming worker paces by.
// Free-running by default: a sleep moves the clock on to its deadline at once, so a run of
// any length takes no real time and every tick lands exactly on its deadline. After Hold(),
// a sleep waits until Advance() has moved the clock to its deadline. Events scheduled with
// At() run on the sleeping thread at the moment a sleep carries the clock past their time.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "engine/ticksource.h"

namespace testsupport {

class FakeTickSource : public TickSource {
public:
    static constexpr int64_t kMs = 1000000;

    int64_t NowNs() override;
    bool SleepUntilNs(int64_t deadlineNs) override;
    // A woken sleep leaves the clock where it was; a held one looks for the signal every
    // millisecond of real time.
    SleepEnd SleepUntilNs(int64_t deadlineNs, const platform::WakeEvent& wake) override;
    // The fake clock read as a wall clock: 2026-01-01 00:00 UTC at time 0.
    static constexpr int64_t kWallAtZeroNs = 1767225600LL * 1000000000;
    int64_t WallNs() override { return NowNs() + kWallAtZeroNs; }

    // From now on sleeps wait for Advance (or RunFree).
    void Hold();
    // Sleeps end at once again; a waiting one is released.
    void RunFree();
    // Moves the clock on (any thread); a held sleep whose deadline is reached ends.
    void Advance(int64_t ns);
    // Runs `action` when a sleep carries the clock past timeNs: the clock reads exactly
    // timeNs while it runs, then the sleep goes on to its deadline. The action may call
    // Advance (the thread stalled: it wakes late) or stop the run (a Stop during the sleep).
    void At(int64_t timeNs, std::function<void()> action);
    // Sleeps fail at once (false) from now on.
    void FailSleeps() { m_failSleeps = true; }

    // Every deadline slept to, in order; one slept to again at once (after a wake) counts
    // once.
    std::vector<int64_t> Deadlines();
    // Waits (real time, at most timeoutMs) until a held sleep is waiting; false on time-out.
    bool WaitForSleeper(int timeoutMs = 10000);
    // Held: n times, waits for the next sleep and moves the clock to its deadline, so that
    // each sleep ends on time. False when no sleep came within timeoutMs.
    bool ReleaseSleeps(int n, int timeoutMs = 10000);

private:
    // The sleep both overloads share; `wake` may be null.
    SleepEnd Sleep(int64_t deadlineNs, const platform::WakeEvent* wake);

    struct Event {
        int64_t timeNs;
        std::function<void()> action;
    };
    // Runs the due events whose time lies at or before `limit`, in time order, with the lock
    // released; true when one ran.
    bool RunDueEvent(std::unique_lock<std::mutex>& lock, int64_t limit);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    int64_t m_nowNs = 0;
    bool m_held = false;
    bool m_failSleeps = false;
    bool m_waiting = false;  // a held sleep waits for the clock to reach m_waitingFor
    int64_t m_waitingFor = 0;
    std::vector<Event> m_events;
    std::vector<int64_t> m_deadlines;
};

}  // namespace testsupport

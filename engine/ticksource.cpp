#include "engine/ticksource.h"

#include <chrono>

#include "platform/monotonicclock.h"
#include "platform/wakeevent.h"

namespace {

class MonotonicTicks final : public TickSource {
public:
    int64_t NowNs() override { return platform::MonotonicNowNs(); }
    bool SleepUntilNs(int64_t deadlineNs) override { return platform::SleepUntilNs(deadlineNs); }
    SleepEnd SleepUntilNs(int64_t deadlineNs, const platform::WakeEvent& wake) override {
        return wake.WaitUntilNs(deadlineNs) ? SleepEnd::kWoken : SleepEnd::kReached;
    }
};

}  // namespace

int64_t TickSource::WallNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TickSource& MonotonicTickSource() {
    // Stateless: one instance serves every thread.
    static MonotonicTicks ticks;
    return ticks;
}

#include "engine/ticksource.h"

#include "platform/monotonicclock.h"

namespace {

class MonotonicTicks final : public TickSource {
public:
    int64_t NowNs() override { return platform::MonotonicNowNs(); }
    bool SleepUntilNs(int64_t deadlineNs) override { return platform::SleepUntilNs(deadlineNs); }
};

}  // namespace

TickSource& MonotonicTickSource() {
    // Stateless: one instance serves every thread.
    static MonotonicTicks ticks;
    return ticks;
}

#include "platform/wakeevent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/monotonicclock.h"

namespace platform {

WakeEvent::WakeEvent() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void WakeEvent::Signal() const {
    if (m_fd < 0) {
        return;
    }
    const uint64_t one = 1;
    // A full counter (never reached) or a refusal loses nothing: the sleeper is awake anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
}

bool WakeEvent::Consume() const {
    uint64_t count = 0;
    return m_fd >= 0 && ::read(m_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

bool WakeEvent::WaitUntilNs(int64_t deadlineNs) const {
    constexpr int64_t kNsPerSecond = 1000000000;
    if (m_fd < 0) {
        SleepUntilNs(deadlineNs);
        return false;
    }
    // One ppoll a wait, as a plain sleep costs one clock_nanosleep: the descriptor is read
    // only once it is ready.
    for (;;) {
        const int64_t left = std::max<int64_t>(deadlineNs - MonotonicNowNs(), 0);
        pollfd ready{m_fd, POLLIN, 0};
        timespec timeout{};
        timeout.tv_sec = static_cast<time_t>(left / kNsPerSecond);
        timeout.tv_nsec = static_cast<long>(left % kNsPerSecond);
        const int got = ::ppoll(&ready, 1, &timeout, nullptr);
        if (got > 0) {
            return Consume();
        }
        if (got < 0 && errno != EINTR) {
            SleepUntilNs(deadlineNs);
            return Consume();
        }
        // ppoll's relative time-out may end a little early: the rest is slept again.
        if (got == 0 && MonotonicNowNs() >= deadlineNs) {
            return false;
        }
    }
}

}  // namespace platform

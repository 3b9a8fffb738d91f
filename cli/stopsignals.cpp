#include "stopsignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// Set by the signal handler; read by the command between reports. Lock-free, so the
// handler may store it.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<int> g_wakeFd{-1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    g_stopRequested.store(true, std::memory_order_relaxed);
    const int fd = g_wakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_wakeRead = ends[0];
        m_wakeWrite = ends[1];
    }
    g_stopRequested.store(false);
    g_wakeFd.store(m_wakeWrite);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_wakeFd.store(-1);
    if (m_wakeRead >= 0) {
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
    }
}

bool StopSignals::Requested() {
    return g_stopRequested.load(std::memory_order_relaxed);
}

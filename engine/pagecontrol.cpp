#include "engine/pagecontrol.h"

#include <cstring>
#include <utility>

#include "playlist/outputcodec.h"

static_assert(std::atomic<PageState>::is_always_lock_free, "End runs in signal handlers");

std::string PageControl::Problem(const PageRequest& request) {
    const size_t length = ::strnlen(request.Device, sizeof request.Device);
    if (length == 0 || length == sizeof request.Device) {
        return "the capture device's name is empty or too long";
    }
    if (std::string problem = DeviceProblem(std::string_view(request.Device, length));
        !problem.empty()) {
        return problem;
    }
    if (FindOutputCodec(request.Law) == nullptr) {
        return "a page is sent as mu-law, A-law or G.722";
    }
    if (request.PtimeMs <= 0 || request.PtimeMs > 1000) {
        return "the packet time must be 1-1000 ms";
    }
    if (request.DurationMs < 0 || request.DurationMs > kMaxDurationMs) {
        return "a page lasts at most a year";
    }
    return std::string();
}

std::string PageControl::DeviceProblem(std::string_view device) {
    for (const char c : device) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return "the capture device's name holds a control character";
        }
    }
    return std::string();
}

bool PageControl::Request(const PageRequest& request) {
    if (State() != PageState::kIdle || !Problem(request).empty()) {
        return false;
    }
    // Only the owner leaves Idle, so nothing races this write; the worker reads it after the
    // store below.
    m_request = request;
    PageState idle = PageState::kIdle;
    return m_state.compare_exchange_strong(idle, PageState::kOpening, std::memory_order_release,
                                           std::memory_order_relaxed);
}

void PageControl::End() {
    PageState state = m_state.load(std::memory_order_relaxed);
    while ((state == PageState::kOpening || state == PageState::kLive) &&
           !m_state.compare_exchange_weak(state, PageState::kEnding, std::memory_order_release,
                                          std::memory_order_relaxed)) {
    }
}

bool PageControl::GoLive() {
    PageState opening = PageState::kOpening;
    return m_state.compare_exchange_strong(opening, PageState::kLive, std::memory_order_acq_rel,
                                           std::memory_order_relaxed);
}

void PageControl::Finish(std::string failure) {
    m_failure = std::move(failure);
    m_state.store(PageState::kIdle, std::memory_order_release);
}

#pragma once
// A live page's request and its state, kept in one place. The owner asks for a page and may
// end it from any thread (a signal handler too); the streaming worker takes it on the air and
// winds it down. One atomic state carries every step, each a single compare-and-swap:
//
//   Idle --Request (owner)--> Opening --GoLive (worker, first packet out)--> Live
//   Opening, Live --End (any thread; or the worker: its time, its device, the run)--> Ending
//   Opening, Live, Ending --Finish (worker, the outcome written first)--> Idle
//
// A page ended while Opening never goes on the air: the worker only finishes it. Request
// writes the request before its release store; the worker reads it after an acquire load of
// Opening. Finish writes the failure and the latency before its release store; the owner
// reads them once it sees Idle (acquire), and until its next Request.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/pagelatency.h"
#include "playlist/playlist.h"

enum class PageState : uint8_t {
    kIdle,     // no page
    kOpening,  // asked for: its device opens while whatever streams plays on
    kLive,     // on the air: its first packet has left
    kEnding,   // ended, not yet wound down
};

class PageControl {
public:
    // What a page is: audio coded in `Law` in packets of PtimeMs, for DurationMs of audio (0:
    // until ended).
    struct PageRequest {
        char Device[kMaxPathChars] = "default";
        uint16_t Law = 7;  // an OutputFormat: mu-law, A-law (6) or G.722 (0x65)
        int PtimeMs = 20;
        int64_t DurationMs = 0;
    };
    // A year: a longer page is refused rather than counted past what the clock can hold.
    static constexpr int64_t kMaxDurationMs = 366LL * 24 * 3600 * 1000;

    // Why a request cannot be paged (empty: it can): an empty or unterminated device name,
    // a law other than mu-law, A-law or G.722, a packet time outside 1-1000 ms, a duration below 0
    // or beyond kMaxDurationMs.
    static std::string Problem(const PageRequest& request);
    // Why a capture device's name is refused before it is opened or written to a log: a
    // control character or a NUL in it; empty when it may be used.
    static std::string DeviceProblem(std::string_view device);
    // Owner: Idle -> Opening with this request; false when a page is not idle or the
    // request has a Problem.
    bool Request(const PageRequest& request);
    // Any thread, async-signal-safe: Opening or Live -> Ending; nothing otherwise.
    void End();
    PageState State() const { return m_state.load(std::memory_order_acquire); }

    // The worker's side. The request, once it saw Opening.
    const PageRequest& Current() const { return m_request; }
    // Opening -> Live; false when the page was ended meanwhile (it stays Ending).
    bool GoLive();
    // The page is over (failure empty when it ran to its end): any state -> Idle.
    void Finish(std::string failure);
    // Recorded by the worker while the page runs.
    PageLatency& Latency() { return m_latency; }

    // The owner's, once State() is Idle: why the last page ended early, and its latency.
    const std::string& Failure() const { return m_failure; }
    PageLatency::Summary LatencySummary() const { return m_latency.Summarise(); }

private:
    std::atomic<PageState> m_state{PageState::kIdle};
    PageRequest m_request;
    std::string m_failure;
    PageLatency m_latency;
};

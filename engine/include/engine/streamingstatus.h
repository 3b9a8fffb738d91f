#pragma once
// The progress protocol between the streaming worker and the main view. The worker never
// calls the view: it posts (wParam, lParam) pairs through StatusPoster, which the UI turns
// into posted events of type WM_STREAMING_STATUS on the UI thread.

#include <cstdint>

constexpr unsigned kWmUser = 0x0400;
constexpr unsigned WM_STREAMING_STATUS = kWmUser + 100;  // 1124

enum StreamingStatusCode : uintptr_t {
    kFileStarted = 0,     // lParam: entry index, OR kOpenFailureMark when it could not open
    kSecondElapsed = 1,   // lParam: entry index
    kFileFinished = 2,    // lParam: the entry's duration in whole seconds
    kStreamingEnded = 3,  // lParam: 0
};

constexpr intptr_t kOpenFailureMark = 0x10000;  // bit 16; the view tests the whole high word

class StatusPoster {
public:
    virtual ~StatusPoster() = default;
    // Must not block: called from the streaming worker at time-critical priority.
    virtual void PostStatus(uintptr_t wParam, intptr_t lParam) = 0;
};

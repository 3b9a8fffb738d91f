#pragma once
// The progress protocol between the streaming worker and its owner. The worker reports
// through StatusPoster, never calling the owner directly. On the wire (the WM_STREAMING_STATUS
// messages the main view receives) a report is a (wParam, lParam) pair: wParam the code,
// lParam the entry index in its low 16 bits, or the entry's duration for code 2, with the
// open-failure mark in bit 16 of code 0 (and the early-end mark there for code 6). StreamingStatus
// is that report decoded.

#include <cstddef>
#include <cstdint>

#include "platform/windowmessages.h"

constexpr unsigned WM_STREAMING_STATUS = kWmUser + 100;  // 1124

enum StreamingStatusCode : uintptr_t {
    kFileStarted = 0,     // the entry opened (or, marked, could not be opened)
    kSecondElapsed = 1,   // another second of ticks of the entry
    kFileFinished = 2,    // the entry's packets have ended and it is closed
    kStreamingEnded = 3,  // the worker is returning
    // An entry opened, but a destination is left out of it (an unusable address, or a
    // group whose interface is missing or down); the others go on.
    kDestinationSkipped = 4,
    // A live page opened its device and took the senders over.
    kPageStarted = 5,
    // The page ended (marked: early, the device failed or went away); a list streaming
    // before it resumes with the entry it was playing.
    kPageEnded = 6,
};

constexpr intptr_t kOpenFailureMark = 0x10000;  // bit 16 of lParam; the whole high word is tested

struct StreamingStatus {
    StreamingStatusCode code = kStreamingEnded;
    size_t index = 0;              // codes 0 and 1: the entry's position in the file list
    bool openFailed = false;       // code 0: the entry was not valid or could not be opened;
                                   // code 6: the page ended early
    intptr_t durationSeconds = 0;  // code 2: the entry's duration in whole seconds
    uint8_t fault = 0;             // code 4: a destinationcheck::SendFault; index: the destination

    static constexpr StreamingStatus FileStarted(size_t entry) {
        return {kFileStarted, entry, false, 0};
    }
    static constexpr StreamingStatus OpenFailed(size_t entry) {
        return {kFileStarted, entry, true, 0};
    }
    static constexpr StreamingStatus SecondElapsed(size_t entry) {
        return {kSecondElapsed, entry, false, 0};
    }
    static constexpr StreamingStatus FileFinished(intptr_t seconds) {
        return {kFileFinished, 0, false, seconds};
    }
    static constexpr StreamingStatus Ended() { return {kStreamingEnded, 0, false, 0}; }
    static constexpr StreamingStatus PageStarted() { return {kPageStarted, 0, false, 0}; }
    static constexpr StreamingStatus PageEnded(bool failed) { return {kPageEnded, 0, failed, 0}; }
    static constexpr StreamingStatus DestinationSkipped(size_t destination, uint8_t why) {
        return {kDestinationSkipped, destination, false, 0, why};
    }

    constexpr uintptr_t WParam() const { return code; }
    // The index travels in 16 bits: a longer list shows the wrong row, never a false mark.
    constexpr intptr_t LParam() const {
        switch (code) {
            case kFileStarted:
            case kSecondElapsed:
                return static_cast<intptr_t>(index & 0xFFFF) | (openFailed ? kOpenFailureMark : 0);
            case kFileFinished:
                return durationSeconds;
            case kDestinationSkipped:
                return static_cast<intptr_t>(index & 0xFFFF) | (static_cast<intptr_t>(fault) << 16);
            case kPageEnded:
                return openFailed ? kOpenFailureMark : 0;
            default:
                return 0;
        }
    }
    // Any pair decodes; a code outside 0-6 keeps its value and means nothing.
    static constexpr StreamingStatus Decode(uintptr_t wParam, intptr_t lParam) {
        StreamingStatus status;
        status.code = static_cast<StreamingStatusCode>(wParam);
        const bool aboutAnEntry = wParam == kFileStarted || wParam == kSecondElapsed;
        status.index = aboutAnEntry ? static_cast<size_t>(lParam & 0xFFFF) : 0;
        status.openFailed =
            (wParam == kFileStarted || wParam == kPageEnded) && ((lParam >> 16) & 0xFFFF) != 0;
        status.durationSeconds = wParam == kFileFinished ? lParam : 0;
        if (wParam == kDestinationSkipped) {
            status.index = static_cast<size_t>(lParam & 0xFFFF);
            status.fault = static_cast<uint8_t>((lParam >> 16) & 0xFF);
        }
        return status;
    }
};

class StatusPoster {
public:
    virtual ~StatusPoster() = default;
    // Called on the streaming worker at real-time priority: must not block.
    virtual void PostStatus(const StreamingStatus& status) = 0;
};

#pragma once
// What a front end hears from its PlaylistDocument: the worker's streaming reports, a new
// name of the open playlist, and store failures in the operator's words. The defaults
// ignore the last two, for front ends that word failures themselves.

#include <string>

#include "engine/streamingstatus.h"

class DocumentObserver {
public:
    virtual ~DocumentObserver() = default;
    // On the streaming worker at real-time priority: must not block; hand the value on.
    virtual void OnStreamingStatus(const StreamingStatus& status) = 0;
    // UI thread: the open playlist's name changed; empty when none is open.
    virtual void OnNameChanged(const std::string& /*name*/) {}
    // UI thread: a store operation failed; the text says what, why and what follows.
    virtual void OnStoreFailure(const std::string& /*message*/) {}
};

#pragma once
// The streaming worker: plays the open playlist file after file to its destinations, paced
// by a periodic timer at each entry's packetization time, looping while loop mode is on,
// until the view clears the streaming flag. It reports only through StatusPoster.

#include <atomic>
#include <mutex>

#include "engine/streamingstatus.h"
#include "engine/winsonvex.h"
#include "playlist/playlist.h"

// What the view shares with its worker. The view owns it and keeps it alive until the
// worker has returned.
struct StreamingShared {
    // Written by the UI thread, polled by the worker. Release/acquire so that a Start that
    // sets the flag after editing the playlist publishes those edits to the worker.
    std::atomic<bool> m_bStreaming{false};
    std::atomic<bool> m_bLoopMode{true};
    Playlist* playlist = nullptr;
    WinSonvex* engine = nullptr;
    // Serialises the worker's copy of an entry with the view's write-back of a probed entry.
    std::mutex entryLock;
    StatusPoster* poster = nullptr;
};

// The thread routine. Returns 0.
unsigned StreamingWorker(StreamingShared& shared);

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
//
// Starting a run (UI thread, "Start streaming", only with at least one file):
//   1. If a previous worker thread is still joinable, join it first: it has been told to
//      stop and finishes within one packetization period (at most 5 s when its timer
//      stalled). This is what keeps two workers off the one engine.
//   2. Fill playlist, engine and poster; they must stay alive until the thread is joined.
//   3. shared.m_bStreaming.store(true, std::memory_order_release);
//   4. m_worker = std::thread([&shared] { StreamingWorker(shared); });
//      The worker asks for real-time priority itself and carries on at normal priority
//      when the system refuses it.
// Stopping (UI thread, "Stop"): shared.m_bStreaming.store(false, std::memory_order_release).
//   The worker sends the packet of the tick it is waiting for, closes the entry, posts
//   code 2 and then code 3, and returns.
// The view also clears m_bStreaming on a marked code 0 and on code 3 (WM_STREAMING_STATUS).
// Closing the window: clear m_bStreaming, then join the thread before the view, the engine
//   or the poster go away. The poster may be called until the join returns.
// Loop mode: shared.m_bLoopMode, read by the worker once at the end of each pass.
// While the worker runs, the UI thread changes nothing in the playlist except the write-back
//   of a probed entry, which it does holding shared.entryLock.
unsigned StreamingWorker(StreamingShared& shared);

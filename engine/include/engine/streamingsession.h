#pragma once
// A streaming session: the streaming flag and loop mode, the lock that guards the playlist's
// entries, and the one worker thread that plays the playlist through the engine to its
// destinations, reporting through a StatusPoster. The desktop view and the command line
// each own one and drive it the same way:
//
//   StreamingSession session(playlist, engine, poster);
//   session.Start();   // the worker plays the list, looping while loop mode is on
//   session.Stop();    // from any thread or a signal handler: the run winds down
//   session.Wait();    // the worker has returned; its last report was StreamingEnded
//
// The worker plays each entry in list order: it opens the entry through the engine, takes
// a tick every packetization period by sleeping to the tick's absolute deadline, and on
// each tick has the engine produce and send one packet. Reports, in order: FileStarted (or
// OpenFailed) per entry reached, SecondElapsed about once a second, FileFinished after each
// opened entry, and StreamingEnded last. The worker never clears the streaming flag itself:
// the owner decides, on OpenFailed and on StreamingEnded, with Stop.
//
// Threads: Start, Wait, Shutdown and SetTickSource belong to the owner's thread; Stop, the
// flags and EntryLock may be used from any thread. While the worker runs, the owner changes
// nothing in the playlist except the write-back of a probed entry, which it makes holding
// EntryLock(); the engine's gain is the only engine state it may change.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "engine/pagelatency.h"
#include "engine/rtcpreporter.h"
#include "engine/sapannouncer.h"
#include "engine/streamingstatus.h"
#include "engine/ticksource.h"
#include "engine/winsonvex.h"
#include "platform/threadpriority.h"
#include "playlist/playlist.h"

class PeriodicTicks;
namespace platform {
class AlsaCapture;
}

class StreamingSession {
public:
    // The playlist, engine and poster must outlive the session. Ticks come from the
    // monotonic clock unless SetTickSource says otherwise.
    StreamingSession(Playlist& playlist, WinSonvex& engine, StatusPoster& poster);
    StreamingSession(const StreamingSession&) = delete;
    StreamingSession& operator=(const StreamingSession&) = delete;
    ~StreamingSession();  // Shutdown()

    // Sets the streaming flag and starts the worker. False, and nothing changes, when the
    // file list is empty, a worker exists that Wait has not collected, or no thread can be
    // made.
    bool Start();
    // Clears the streaming flag. The worker sends the packet of the tick it is waiting for
    // (at most one period away), closes the entry, reports FileFinished and then
    // StreamingEnded, and returns; between entries it ends before opening the next. Safe in
    // any state, any number of times; only stores a flag, so a signal handler may call it.
    void Stop();
    // Waits until the worker has returned (at once when there is none) and clears the
    // streaming flag. With loop mode on, only a Stop ends a run. The poster is not called
    // again afterwards.
    void Wait();
    // Stop, then Wait: bounded by one period, or 5 s when a tick never comes.
    void Shutdown();

    bool IsStreaming() const { return m_bStreaming.load(std::memory_order_acquire); }
    // A worker exists that Wait has not collected; Start refuses until it has been.
    bool IsRunning() const { return m_worker.joinable(); }
    // Read by the worker once at the end of each pass over the list.
    void SetLoopMode(bool on) { m_bLoopMode.store(on, std::memory_order_relaxed); }
    bool LoopMode() const { return m_bLoopMode.load(std::memory_order_relaxed); }
    // Serialises the worker's copy of an entry with the owner's write-back of an entry.
    std::mutex& EntryLock() { return m_entryLock; }
    // What the system granted the last worker: real-time priority, directly or through
    // RealtimeKit, or normal priority. Normal until a worker has asked.
    platform::PriorityGrant WorkerPriority() const {
        return m_workerPriority.load(std::memory_order_acquire);
    }
    // The clock of the next runs; it must outlive them. False while a worker exists.
    bool SetTickSource(TickSource& ticks);
    // The playlist's name, for the SDP that SAP announces (the playlist's SapAnnounce and
    // RtcpReports are read at each Start). False while a worker exists.
    bool SetSessionName(const std::string& name);

    // A live page from a capture device: G.711 of `Law` in packets of PtimeMs, for
    // DurationMs of captured audio (0: until EndPage).
    struct PageRequest {
        char Device[kMaxPathChars] = "default";
        uint16_t Law = 7;  // WAVE_FORMAT_MULAW
        int PtimeMs = 20;
        int64_t DurationMs = 0;
    };
    // Owner's thread. While the playlist streams, the worker replaces the entry's packets
    // with the page's at its next tick and, when the page ends, opens that entry again from
    // its start. While nothing streams, a worker runs the page alone and ends after it
    // (StreamingEnded). The worker reports PageStarted once the device is open and PageEnded
    // when the page is over. False when a page is already active, or a worker exists that
    // Wait has not collected and is not streaming.
    bool RequestPage(const PageRequest& request);
    // Ends the page; only stores a flag, so a signal handler may call it.
    void EndPage() { m_bPaging.store(false, std::memory_order_release); }
    // The page is wanted: requested and not yet ended by EndPage, its time or its device.
    bool IsPaging() const { return m_bPaging.load(std::memory_order_acquire); }
    // A page is requested or still running on the worker; RequestPage refuses until it is
    // over. PageFailure and PageLatencySummary describe the last page once this is false.
    bool IsPageActive() const { return m_bPageActive.load(std::memory_order_acquire); }
    // Why the last page ended early (the device could not be opened or went away); empty
    // when it ran to its end.
    const std::string& PageFailure() const { return m_pageFailure; }
    // The peak of the last captured block, 0 to 1 (0 while no page runs). Any thread.
    float PageLevel() const { return m_pageLevel.load(std::memory_order_relaxed); }
    PageLatency::Summary PageLatencySummary() const { return m_pageLatency.Summarise(); }

private:
    // The thread routine (streamingworker.cpp).
    void StreamingWorker();
    // Reports each destination the opened entry could not prepare (streamingworker.cpp).
    void ReportSkippedDestinations(size_t destinationCount);
    // Sends the opened entry a packet a tick until its source ends, a tick fails to come or
    // the run stops (streamingworker.cpp).
    void SendEntry(size_t index, const PlaylistFile& entry,
                   const std::vector<RtpDestination>& destinations, PeriodicTicks& ticks);
    // Prepares the run's sender reports and announcements, as the playlist asks.
    void StartAnnouncing();
    bool Streaming() const { return IsStreaming(); }
    // The worker's run when it is a page alone: the page, then StreamingEnded.
    void RunPageAlone();
    // At a tick of an entry: a page ended before it began is dropped; a requested one whose
    // device opens replaces the entry's packets until it ends, and the entry then opens again
    // from its start (kPaged, or kStop when the run ended or it cannot). kNone: the tick is
    // the entry's, also when the page's device could not be opened.
    enum class PageTurn { kNone, kPaged, kStop };
    PageTurn PageAtTick(size_t index, const PlaylistFile& entry,
                        const std::vector<RtpDestination>& destinations, PeriodicTicks& ticks);
    // Opens the requested page's device; false when it cannot, the page then over with the
    // device's reason.
    bool OpenPageCapture(platform::AlsaCapture& capture);
    // Runs the requested page on the worker until it ends; the engine's entry is closed.
    void RunPage(platform::AlsaCapture& capture, const std::vector<RtpDestination>& destinations);
    // The page is over: its failure (empty when none) kept, the flags cleared, PageEnded.
    void EndPageRun(const std::string& failure);
    // Captures and sends the page until it is ended, its time is up or the run stops; the
    // device's reason when it failed, else empty.
    std::string SendPage(const PageRequest& page, platform::AlsaCapture& capture);

    // Written by the owner's thread (and by Stop from any thread), polled by the worker.
    // Release on set, acquire on read: the worker sees every playlist edit made before
    // Start.
    std::atomic<bool> m_bStreaming{false};
    // An independent setting sampled once a pass: relaxed order suffices.
    std::atomic<bool> m_bLoopMode{true};
    // Set by RequestPage after it wrote m_page (release), cleared by EndPage or by the worker
    // when the page ends, after it wrote m_pageFailure (release); the worker reads m_page, and
    // the owner m_pageFailure, after an acquire load.
    std::atomic<bool> m_bPaging{false};
    // Set by RequestPage, cleared by the worker (release) once the page is over and
    // m_pageFailure and m_pageLatency are written.
    std::atomic<bool> m_bPageActive{false};
    std::atomic<float> m_pageLevel{0.0F};
    PageLatency m_pageLatency;
    PageRequest m_page;
    std::string m_pageFailure;
    bool m_pageAlone = false;  // the worker's run is the page alone; set before it starts
    Playlist& m_playlist;
    WinSonvex& m_engine;
    StatusPoster& m_poster;
    TickSource* m_ticks;
    std::mutex m_entryLock;
    std::atomic<platform::PriorityGrant> m_workerPriority{platform::PriorityGrant::Normal};
    std::thread m_worker;
    // The worker's, for its run.
    std::string m_sessionName = "Sonvex";
    RtcpReporter m_rtcp;
    SapAnnouncer m_sap;
};

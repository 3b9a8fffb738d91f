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
// each tick has the engine produce one packet, which the session's transmitter sends to
// every destination (with the run's RTCP and SAP). A live page is another source on the same
// transmitter: its device opens while the entry plays on, and it takes the wire over at the
// entry's next tick once its first packet is ready. Reports, in order: FileStarted (or
// OpenFailed) per entry reached, SecondElapsed about once a second, FileFinished after each
// opened entry, and StreamingEnded last. The worker never clears the streaming flag itself:
// the owner decides, on OpenFailed and on StreamingEnded, with Stop.
//
// Threads: Start, Wait, Shutdown and SetTickSource belong to the owner's thread; Stop, the
// flags and EntryLock may be used from any thread. While the worker runs, the owner changes
// nothing in the playlist except the write-back of a probed entry, which it makes holding
// EntryLock(); the engine's gain is the only engine state it may change.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/livesource.h"
#include "engine/pagecontrol.h"
#include "engine/pagelatency.h"
#include "engine/streamingstatus.h"
#include "engine/ticksource.h"
#include "engine/transmitter.h"
#include "engine/winsonvex.h"
#include "platform/threadpriority.h"
#include "platform/wakeevent.h"
#include "playlist/playlist.h"

class EntrySource;
class PeriodicTicks;

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
    // any state, any number of times; only stores a flag and wakes the worker, so a signal
    // handler may call it.
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

    // A live page from a capture device (pagecontrol.h).
    using PageRequest = PageControl::PageRequest;
    // Owner's thread. While the playlist streams, the worker sees the page at the entry's
    // next tick, the page's device opens on a thread of its own and the entry plays on; at
    // the entry's first tick after the page's first packet is ready, the page takes the wire
    // over, and when it ends the entry starts again
    // from its start, at the packet time after the page's last packet. While nothing
    // streams, a worker runs the page alone and ends after it (StreamingEnded). The worker
    // reports PageStarted once the page's first packet has left and PageEnded when the page
    // is over. A device that does not open within LiveSource::kOpenTimeoutNs ends the page
    // with a reason and leaves whatever streams undisturbed. False when a page is already
    // active, the request has a PageControl::Problem, or a worker exists that Wait has not
    // collected and is not streaming.
    bool RequestPage(const PageRequest& request);
    // Ends the page; only stores a state and wakes the worker, so a signal handler may call
    // it.
    void EndPage();
    PageState CurrentPageState() const { return m_pageControl.State(); }
    // The page is wanted: requested and not yet ended by EndPage, its time or its device.
    bool IsPaging() const {
        const PageState state = m_pageControl.State();
        return state == PageState::kOpening || state == PageState::kLive;
    }
    // A page is requested or still running on the worker; RequestPage refuses until it is
    // over. PageFailure and PageLatencySummary describe the last page once this is false.
    bool IsPageActive() const { return m_pageControl.State() != PageState::kIdle; }
    // Why the last page ended early (the device could not be opened or went away); empty
    // when it ran to its end.
    const std::string& PageFailure() const { return m_pageControl.Failure(); }
    // The peak of the last captured block, 0 to 1 (0 while no page runs). Any thread.
    float PageLevel() const { return m_pageLevel.load(std::memory_order_relaxed); }
    // From the capture of each packet's first sample (the converter's delay included) to the
    // packet leaving.
    PageLatency::Summary PageLatencySummary() const { return m_pageControl.LatencySummary(); }
    // The transmitter's state, for tests and diagnostics; the worker's while it runs.
    const Transmitter& Wire() const { return m_transmitter; }

private:
    // The thread routine (streamingworker.cpp).
    void StreamingWorker();
    // The passes over the list until it is done or the run stops (streamingworker.cpp).
    void PlayList(PeriodicTicks& ticks);
    // Reports each destination the opened entry leaves out (streamingworker.cpp).
    void ReportSkippedDestinations();
    // Sends the opened entry a packet a tick until its source ends, a tick fails to come or
    // the run stops; a page that becomes ready takes the wire over in between
    // (streamingworker.cpp).
    void SendEntry(size_t index, const PlaylistFile& entry,
                   const std::vector<RtpDestination>& destinations, PeriodicTicks& ticks);
    // The run's transmitter starts with the playlist's destinations, reports and
    // announcements (streamingworker.cpp).
    void BeginTransmitting();
    // The wall clock at a monotonic instant of the tick source.
    int64_t WallAt(int64_t instantNs);
    bool Streaming() const { return IsStreaming(); }

    // The page's steps on the worker (streamingpage.cpp). Starts the capture of a page
    // asked for, gives up on one whose device failed, finishes one ended before it began.
    void ServicePage();
    // A page asked for has its first packet ready.
    bool PageReady();
    // The page on the air from instantNs (the transmitter's clock) until it ends; returns
    // the instant after its last packet.
    int64_t RunPage(int64_t instantNs, const std::vector<RtpDestination>& destinations);
    // Sends the page's next packet when it is ready and due, else sleeps until it may be;
    // false once the page is over (`failure` says why, when early).
    bool PageStep(int64_t instantNs, uint64_t& sent, std::string& failure);
    // The worker's run when it is a page alone: the page, then the run's end.
    void RunPageAlone();
    // The page is over: the outcome kept, PageEnded reported. By value: the failure is
    // often the page's source's own reason, and the source goes first.
    void FinishPage(std::string failure);

    // Written by the owner's thread (and by Stop from any thread), polled by the worker.
    // Release on set, acquire on read: the worker sees every playlist edit made before
    // Start.
    std::atomic<bool> m_bStreaming{false};
    // An independent setting sampled once a pass: relaxed order suffices.
    std::atomic<bool> m_bLoopMode{true};
    // The page's state and request (pagecontrol.h); the worker's source for it.
    PageControl m_pageControl;
    std::unique_ptr<LiveSource> m_live;  // worker only
    std::atomic<float> m_pageLevel{0.0F};
    bool m_pageAlone = false;  // the worker's run is the page alone; set before it starts
    // Wakes the worker from its sleep: a page asked for or ended, a packet of it ready, a
    // Stop. Shared with the page's capture thread, which may outlive a page that gave up on
    // its device.
    std::shared_ptr<const platform::WakeEvent> m_wake = std::make_shared<platform::WakeEvent>();
    Playlist& m_playlist;
    WinSonvex& m_engine;
    StatusPoster& m_poster;
    TickSource* m_ticks;
    std::mutex m_entryLock;
    std::atomic<platform::PriorityGrant> m_workerPriority{platform::PriorityGrant::Normal};
    std::thread m_worker;
    // The worker's, for its run.
    std::string m_sessionName = "Sonvex";
    Transmitter m_transmitter;
};

#include "engine/streamingworker.h"

#include <vector>

#include "platform/autoresetevent.h"
#include "platform/mmtimer.h"
#include "platform/threadpriority.h"

namespace {

constexpr uint32_t kTickTimeoutMs = 5000;
constexpr uint32_t kReportIntervalMs = 1000;
// A pass in which no entry opened waited on no timer; pause before the next one so that a
// real-time worker leaves the processor to the UI thread, which ends the run on the marked
// report.
constexpr uint32_t kFailedPassPauseMs = 250;

// The flags are written by the UI thread; acquire pairs with the release in Start so that
// the playlist edits made before it are visible here.
bool Streaming(const StreamingShared& shared) {
    return shared.m_bStreaming.load(std::memory_order_acquire);
}

}  // namespace

unsigned StreamingWorker(StreamingShared& shared) {
    platform::RaiseCurrentThreadPriority();  // refused: carry on at normal priority
    platform::AutoResetEvent event;
    platform::MmTimer timer;
    Playlist& playlist = *shared.playlist;
    WinSonvex& engine = *shared.engine;
    StatusPoster& poster = *shared.poster;

    for (;;) {
        bool anyOpened = false;
        for (size_t index = 0; Streaming(shared); ++index) {
            PlaylistFile entry;
            std::vector<RtpDestination> destinations;
            {
                std::lock_guard<std::mutex> lock(shared.entryLock);
                if (index >= playlist.Files.size()) {
                    break;
                }
                entry = playlist.Files[index];
                destinations = playlist.Destinations;
            }
            const auto lParam = static_cast<intptr_t>(index);
            if (entry.Valid == 0 || !engine.OpenEntry(entry, destinations)) {
                poster.PostStatus(kFileStarted, lParam | kOpenFailureMark);
                continue;
            }
            anyOpened = true;
            poster.PostStatus(kFileStarted, lParam);
            // OpenEntry refuses a packetization time of 0 or below.
            const auto period = static_cast<uint32_t>(entry.DstPacketization);
            timer.SetEvent(period, event);  // a failure ends the entry through the time-out

            uint32_t elapsedMs = 0;
            if (Streaming(shared)) {
                while (!engine.EndOfSource()) {
                    if (event.Wait(kTickTimeoutMs) != platform::WaitResult::Signaled) {
                        break;
                    }
                    engine.ProducePacket();
                    elapsedMs += period;
                    if (elapsedMs >= kReportIntervalMs) {
                        poster.PostStatus(kSecondElapsed, lParam);
                        elapsedMs = 0;  // the excess is dropped
                    }
                    if (!Streaming(shared)) {
                        break;
                    }
                }
            }
            timer.Kill();
            event.Reset();  // a tick that fired before the kill must not start the next entry
            engine.CloseEntry();
            poster.PostStatus(kFileFinished, entry.Source.durationSeconds);
        }
        if (!shared.m_bLoopMode.load(std::memory_order_acquire) || !Streaming(shared)) {
            break;
        }
        if (!anyOpened) {
            event.Wait(kFailedPassPauseMs);  // nothing signals it now: a plain pause
        }
    }
    poster.PostStatus(kStreamingEnded, 0);
    return 0;
}

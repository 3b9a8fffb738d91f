// The streaming worker's thread routine: plays the playlist entry after entry, one packet
// per tick, until the list is done (loop mode off) or the streaming flag is cleared.

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/periodicticks.h"
#include "engine/streamingsession.h"
#include "platform/alsacapture.h"
#include "platform/monotonicclock.h"

namespace {

constexpr uint32_t kTickTimeoutMs = 5000;
constexpr uint32_t kReportIntervalMs = 1000;
// A pass in which no entry opened waited on no tick; pause before the next one so that a
// real-time worker leaves the processor to the owner, which ends the run on the failure
// report.
constexpr int64_t kFailedPassPauseNs = 250000000;

}  // namespace

void StreamingSession::StreamingWorker() {
    // Refused everywhere: the worker carries on at normal priority.
    m_workerPriority.store(platform::RaiseCurrentThreadPriority(), std::memory_order_release);
    PeriodicTicks ticks(*m_ticks);
    if (m_pageAlone) {
        RunPageAlone();
        return;
    }
    StartAnnouncing();

    for (;;) {
        bool anyOpened = false;
        for (size_t index = 0; Streaming(); ++index) {
            PlaylistFile entry;
            std::vector<RtpDestination> destinations;
            {
                std::lock_guard<std::mutex> lock(m_entryLock);
                if (index >= m_playlist.Files.size()) {
                    break;
                }
                entry = m_playlist.Files[index];
                destinations = m_playlist.Destinations;
            }
            if (entry.Valid == 0 || !m_engine.OpenEntry(entry, destinations)) {
                m_poster.PostStatus(StreamingStatus::OpenFailed(index));
                continue;
            }
            anyOpened = true;
            m_poster.PostStatus(StreamingStatus::FileStarted(index));
            ReportSkippedDestinations(destinations.size());
            // OpenEntry refuses a packetization time of 0 or below. A fresh schedule: no
            // tick of the previous entry stays pending.
            const auto period = static_cast<uint32_t>(entry.DstPacketization);
            ticks.Arm(period);

            SendEntry(index, entry, destinations, ticks);
            m_engine.CloseEntry();
            m_poster.PostStatus(StreamingStatus::FileFinished(entry.Source.durationSeconds));
        }
        if (!m_bLoopMode.load(std::memory_order_relaxed) || !Streaming()) {
            break;
        }
        if (!anyOpened) {
            m_ticks->SleepUntilNs(m_ticks->NowNs() + kFailedPassPauseNs);
        }
    }
    // The last report with BYE, and the deletions, once the last packet is out.
    m_rtcp.Stop(m_engine, m_ticks->NowNs(), m_ticks->WallNs());
    m_sap.Stop();
    // A page asked for too late to find a tick is not left pending.
    m_bPaging.store(false, std::memory_order_release);
    m_bPageActive.store(false, std::memory_order_release);
    m_poster.PostStatus(StreamingStatus::Ended());
}

void StreamingSession::ReportSkippedDestinations(size_t destinationCount) {
    const size_t senders = std::min(destinationCount, static_cast<size_t>(WinSonvex::kSenderCount));
    for (size_t d = 0; d < senders; ++d) {
        const auto fault = m_engine.DestinationFault(d);
        if (fault != destinationcheck::SendFault::None) {
            m_poster.PostStatus(
                StreamingStatus::DestinationSkipped(d, static_cast<uint8_t>(fault)));
        }
    }
}

void StreamingSession::SendEntry(size_t index, const PlaylistFile& entry,
                                 const std::vector<RtpDestination>& destinations,
                                 PeriodicTicks& ticks) {
    if (!Streaming()) {
        return;
    }
    const auto periodMs = static_cast<uint32_t>(entry.DstPacketization);
    uint32_t elapsedMs = 0;
    // The end of the source is tested before each wait: the tick that found it sent
    // nothing, and no further tick is waited for.
    while (!m_engine.EndOfSource()) {
        if (ticks.Wait(kTickTimeoutMs) != TickWait::Tick) {
            break;
        }
        const PageTurn turn = PageAtTick(index, entry, destinations, ticks);
        if (turn == PageTurn::kStop) {
            break;
        }
        if (turn == PageTurn::kPaged) {
            continue;
        }
        const int64_t deadline = ticks.LastDeadlineNs();
        m_engine.SetTickDeadlineNs(deadline);
        m_engine.ProducePacket();
        // After the packet, at the tick's instant on both clocks.
        m_rtcp.Tick(m_engine, deadline, m_ticks->WallNs() - (m_ticks->NowNs() - deadline));
        m_sap.Tick(deadline);
        elapsedMs += periodMs;
        if (elapsedMs >= kReportIntervalMs) {
            m_poster.PostStatus(StreamingStatus::SecondElapsed(index));
            elapsedMs = 0;  // the excess is dropped
        }
        if (!Streaming()) {
            break;
        }
    }
}

void StreamingSession::RunPageAlone() {
    std::vector<RtpDestination> destinations;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        destinations = m_playlist.Destinations;
    }
    platform::AlsaCapture capture;
    if (OpenPageCapture(capture)) {
        RunPage(capture, destinations);
    }
    m_poster.PostStatus(StreamingStatus::Ended());
}

StreamingSession::PageTurn StreamingSession::PageAtTick(
    size_t index, const PlaylistFile& entry, const std::vector<RtpDestination>& destinations,
    PeriodicTicks& ticks) {
    if (!m_bPageActive.load(std::memory_order_acquire)) {
        return PageTurn::kNone;
    }
    if (!m_bPaging.load(std::memory_order_acquire)) {
        // Ended before it began: nothing to take over.
        m_bPageActive.store(false, std::memory_order_release);
        m_poster.PostStatus(StreamingStatus::PageEnded(false));
        return PageTurn::kNone;
    }
    // The device first: one that cannot be opened leaves the entry playing on.
    platform::AlsaCapture capture;
    if (!OpenPageCapture(capture)) {
        return PageTurn::kNone;
    }
    m_engine.CloseEntry();
    RunPage(capture, destinations);
    if (!Streaming() || !m_engine.OpenEntry(entry, destinations)) {
        return PageTurn::kStop;
    }
    m_poster.PostStatus(StreamingStatus::FileStarted(index));
    ticks.Arm(static_cast<uint32_t>(entry.DstPacketization));
    return PageTurn::kPaged;
}

bool StreamingSession::OpenPageCapture(platform::AlsaCapture& capture) {
    m_pageLatency.Reset();
    const auto periodUs = static_cast<unsigned>(std::max(m_page.PtimeMs, 1)) * 1000u;
    if (capture.Open(m_page.Device, periodUs)) {
        return true;
    }
    EndPageRun(capture.Reason());
    return false;
}

void StreamingSession::RunPage(platform::AlsaCapture& capture,
                               const std::vector<RtpDestination>& destinations) {
    std::string failure;
    if (!m_engine.OpenPage(m_page.Law, m_page.PtimeMs, capture.Rate(), capture.Channels(),
                           capture.PeriodFrames(), destinations, m_ticks->NowNs())) {
        failure = "the packet time " + std::to_string(m_page.PtimeMs) + " ms cannot be sent";
    } else {
        m_poster.PostStatus(StreamingStatus::PageStarted());
        failure = SendPage(m_page, capture);
        m_engine.ClosePage();
    }
    EndPageRun(failure);
}

void StreamingSession::EndPageRun(const std::string& failure) {
    m_pageLevel.store(0.0F, std::memory_order_relaxed);
    m_pageFailure = failure;
    m_bPaging.store(false, std::memory_order_release);
    m_bPageActive.store(false, std::memory_order_release);
    m_poster.PostStatus(StreamingStatus::PageEnded(!failure.empty()));
}

std::string StreamingSession::SendPage(const PageRequest& page, platform::AlsaCapture& capture) {
    // Paced by the capture: each block is sent as soon as it completes a packet.
    std::vector<int16_t> block(capture.PeriodFrames() * capture.Channels());
    const int64_t limit = page.DurationMs * capture.Rate() / 1000;
    int64_t captured = 0;
    while (m_bPaging.load(std::memory_order_acquire) && Streaming() &&
           (page.DurationMs <= 0 || captured < limit)) {
        size_t frames = 0;
        int64_t captureNs = 0;
        if (capture.Read(block.data(), frames, captureNs) !=
            platform::AlsaCapture::ReadResult::kBlock) {
            return capture.Reason();
        }
        int peak = 0;
        for (size_t i = 0; i < frames * capture.Channels(); ++i) {
            peak = std::max(peak, std::abs(static_cast<int>(block[i])));
        }
        m_pageLevel.store(static_cast<float>(peak) / 32768.0F, std::memory_order_relaxed);
        if (m_engine.PageBlock(block.data(), frames) > 0) {
            m_pageLatency.Record(platform::MonotonicNowNs() - captureNs);
        }
        captured += static_cast<int64_t>(frames);
    }
    return {};
}

void StreamingSession::StartAnnouncing() {
    Playlist run;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        run = m_playlist;
    }
    if (run.RtcpReports != 0) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
            std::strcpy(host, "localhost");
        }
        m_rtcp.Start(run.Destinations, std::string("sonvex@") + host, m_ticks->NowNs());
    }
    // The SDP's version: the wall clock's seconds, new for every run.
    m_sap.Start(m_sessionName, run, static_cast<uint64_t>(m_ticks->WallNs() / 1000000000));
}

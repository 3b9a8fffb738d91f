// The streaming worker's thread routine: plays the playlist entry after entry, one packet
// per tick, until the list is done (loop mode off) or the streaming flag is cleared.

#include <algorithm>
#include <string>
#include <vector>

#include "engine/entrysource.h"
#include "engine/periodicticks.h"
#include "engine/streamingsession.h"

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
    m_engine.Feed(&m_transmitter);
    BeginTransmitting();
    if (m_pageAlone) {
        RunPageAlone();
    } else {
        PeriodicTicks ticks(*m_ticks);
        PlayList(ticks);
    }
    // A page asked for too late to go on the air ends with the run.
    if (IsPageActive()) {
        FinishPage(m_live ? m_live->Reason() : std::string());
    }
    // The last report with BYE, and the deletions, once the last packet is out.
    const int64_t now = m_ticks->NowNs();
    m_transmitter.End(now, WallAt(now));
    m_engine.Feed(nullptr);
    m_poster.PostStatus(StreamingStatus::Ended());
}

void StreamingSession::BeginTransmitting() {
    Playlist run;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        run = m_playlist;
    }
    const int64_t now = m_ticks->NowNs();
    m_transmitter.Begin(run, m_sessionName, now, WallAt(now));
}

int64_t StreamingSession::WallAt(int64_t instantNs) {
    return m_ticks->WallNs() - (m_ticks->NowNs() - instantNs);
}

void StreamingSession::PlayList(PeriodicTicks& ticks) {
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
            // The first packet's samples are decoded now, off the tick, so that the first
            // packet keeps its deadline like every other.
            m_engine.PrepareNext();
            m_poster.PostStatus(StreamingStatus::FileStarted(index));
            ReportSkippedDestinations();
            // OpenEntry refuses a packetization time of 0 or below. A fresh schedule: no
            // tick of the previous entry stays pending.
            ticks.Arm(static_cast<uint32_t>(entry.DstPacketization));
            SendEntry(index, entry, destinations, ticks);
            m_engine.CloseEntry();
            m_poster.PostStatus(StreamingStatus::FileFinished(entry.Source.durationSeconds));
        }
        if (!m_bLoopMode.load(std::memory_order_relaxed) || !Streaming()) {
            return;
        }
        if (!anyOpened) {
            m_ticks->SleepUntilNs(m_ticks->NowNs() + kFailedPassPauseNs);
        }
    }
}

void StreamingSession::ReportSkippedDestinations() {
    for (size_t d = 0; d < m_transmitter.DestinationCount(); ++d) {
        const auto fault = m_transmitter.Fault(d);
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
    EntrySource source(m_engine);
    uint32_t elapsedMs = 0;
    // The end of the source is tested before each wait: the tick that found it sent
    // nothing, and no further tick is waited for.
    while (!m_engine.EndOfSource()) {
        // A plain sleep to the deadline, the cheapest there is: a page asked for meanwhile
        // is seen at the tick, and can take the wire over at a tick only.
        if (ticks.Wait(kTickTimeoutMs) != TickWait::Tick) {
            break;
        }
        ServicePage();
        const int64_t deadline = ticks.LastDeadlineNs();
        if (PageReady()) {
            // The page holds the wire from this tick on; the entry starts again after it.
            const int64_t next = RunPage(deadline, destinations);
            if (!Streaming() || !m_engine.OpenEntry(entry, destinations)) {
                return;  // a file gone meanwhile ends like any entry
            }
            m_engine.PrepareNext();
            m_poster.PostStatus(StreamingStatus::FileStarted(index));
            ReportSkippedDestinations();
            ticks.ArmAt(next, periodMs);
            elapsedMs = 0;
            continue;
        }
        SourcePacket packet;
        if (source.Take(deadline, packet)) {
            m_transmitter.Send(packet.payload, packet.length, packet.payloadType, deadline,
                               packet.clockRate);
            source.Sent();
        }
        // After the packet, at the tick's instant on both clocks.
        m_transmitter.Tick(deadline, WallAt(deadline));
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

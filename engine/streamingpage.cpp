// The streaming worker's side of a live page: the page's capture opens while whatever
// streams plays on, takes the wire over at a packet boundary once its first packet is ready,
// goes out packet by packet as the device delivers them (held to real time), and hands the
// wire back.

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/streamingsession.h"
#include "platform/monotonicclock.h"

namespace {

// While the page waits for its device's next packet, the transmitter's reports still fall
// due: the worker looks at least this often.
constexpr int64_t kPageIdleWaitNs = 100000000;

}  // namespace

void StreamingSession::ServicePage() {
    switch (m_pageControl.State()) {
        case PageState::kIdle:
        case PageState::kLive:
            return;
        case PageState::kEnding:
            // Ended before it went on the air: nothing to hand back.
            FinishPage(std::string());
            return;
        case PageState::kOpening:
            break;
    }
    if (!m_live) {
        const PageRequest& request = m_pageControl.Current();
        LiveSource::Settings settings;
        settings.device = request.Device;
        settings.law = request.Law;
        settings.ptimeMs = request.PtimeMs;
        m_live = std::make_unique<LiveSource>();
        if (!m_live->Start(settings, m_engine.GainValue(), m_wake, *m_ticks)) {
            FinishPage(m_live->Reason());
        }
        return;
    }
    if (m_live->Poll() == LiveSource::State::kFailed) {
        FinishPage(m_live->Reason());
    }
}

bool StreamingSession::PageReady() {
    return m_pageControl.State() == PageState::kOpening && m_live &&
           m_live->Poll() == LiveSource::State::kCapturing && m_live->Ready();
}

int64_t StreamingSession::RunPage(int64_t instantNs,
                                  const std::vector<RtpDestination>& destinations) {
    m_transmitter.UseDestinations(destinations);
    m_transmitter.MarkChange();
    m_pageControl.Latency().Reset();
    uint64_t sent = 0;
    std::string failure;
    while (PageStep(instantNs, sent, failure)) {
    }
    const int64_t next =
        sent == 0
            ? instantNs
            : instantNs + (m_live->ScheduleNs() - m_live->FirstScheduleNs()) + m_live->PacketNs();
    FinishPage(failure);
    // The source that follows marks its first packet.
    m_transmitter.MarkChange();
    return next;
}

bool StreamingSession::PageStep(int64_t instantNs, uint64_t& sent, std::string& failure) {
    const PageRequest& request = m_pageControl.Current();
    if (m_pageControl.State() == PageState::kEnding || !Streaming() ||
        (request.DurationMs > 0 &&
         static_cast<int64_t>(sent) * request.PtimeMs >= request.DurationMs)) {
        return false;
    }
    const bool ready = m_live->Ready();
    if (!ready && m_live->Poll() == LiveSource::State::kFailed) {
        failure = m_live->Reason();
        return false;
    }
    const int64_t now = m_ticks->NowNs();
    if (!ready) {
        // The device's next packet comes at its own pace, in real time, whatever clock the
        // worker sends by; the reports still fall due meanwhile.
        m_wake->WaitUntilNs(platform::MonotonicNowNs() + kPageIdleWaitNs);
        const int64_t later = m_ticks->NowNs();
        m_transmitter.Tick(later, WallAt(later));
        return true;
    }
    if (now < m_live->EarliestNs()) {
        m_ticks->SleepUntilNs(m_live->EarliestNs(), *m_wake);  // held to real time
        return true;
    }
    SourcePacket packet;
    if (!m_live->Take(now, packet)) {
        return true;
    }
    // The transmitter's clock runs on from the takeover by the page's own real-time pace.
    const int64_t instant =
        sent == 0 ? instantNs : instantNs + (m_live->ScheduleNs() - m_live->FirstScheduleNs());
    m_transmitter.Send(packet.payload, packet.length, packet.payloadType, instant,
                       packet.clockRate);
    if (packet.captureNs != SourcePacket::kNoCapture) {
        m_pageControl.Latency().Record(platform::MonotonicNowNs() - packet.captureNs);
    }
    m_pageLevel.store(m_live->Level(), std::memory_order_relaxed);
    if (sent++ == 0 && m_pageControl.GoLive()) {
        m_poster.PostStatus(StreamingStatus::PageStarted());
    }
    m_transmitter.Tick(now, WallAt(now));
    return true;
}

void StreamingSession::RunPageAlone() {
    std::vector<RtpDestination> destinations;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        destinations = m_playlist.Destinations;
    }
    // Nothing else streams: the page goes on the air as soon as its first packet is ready.
    while (Streaming() && m_pageControl.State() != PageState::kIdle) {
        ServicePage();
        if (PageReady()) {
            RunPage(m_ticks->NowNs(), destinations);
            return;
        }
        // Woken when the device opens or fails, or the page is ended: the opening takes real
        // time, whatever clock paces the packets.
        m_wake->WaitUntilNs(platform::MonotonicNowNs() + kPageIdleWaitNs);
    }
}

void StreamingSession::FinishPage(std::string failure) {
    if (m_live) {
        m_live->Stop();
        m_live.reset();
    }
    m_pageLevel.store(0.0F, std::memory_order_relaxed);
    const bool wasLive = m_pageControl.State() != PageState::kIdle;
    m_pageControl.Finish(std::move(failure));
    if (wasLive) {
        m_poster.PostStatus(StreamingStatus::PageEnded(!m_pageControl.Failure().empty()));
    }
}

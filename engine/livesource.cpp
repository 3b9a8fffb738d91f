#include "engine/livesource.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "codec/liveresampler.h"
#include "codec/waveformat.h"
#include "platform/alsacapture.h"
#include "platform/byteorder.h"
#include "platform/monotonicclock.h"
#include "platform/threadpriority.h"
#include "platform/wakeevent.h"
#include "playlist/outputcodec.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// The queue between the capture thread and the worker: samples at the law's rate, about two
// seconds of G.711 (one of G.722), and the blocks they came in (a block is at least a sample; a
// second of 1 ms blocks fits).
constexpr size_t kQueueSamples = 16384;
constexpr size_t kQueueBlocks = 2048;
// A device this far ahead of real time runs free of it: beyond any start's burst (a
// device's buffer) and any drift in a page's time.
constexpr int64_t kFreeRunningAheadNs = 250000000;
// How long Stop waits for the capture thread before it lets it go.
constexpr int64_t kStopWaitNs = 50000000;

}  // namespace

// What the capture thread and the worker share. The queue is single-producer (the capture
// thread), single-consumer (the worker): the producer writes samples and block records, then
// publishes them with a release store of its counts; the consumer reads after an acquire
// load and frees them with a release store of its own counts. Nothing else crosses but
// atomics and the values written before the state is published.
struct LiveSource::Shared {
    // Each block's last sample: its index + 1, the instant its sound reached the device, and
    // the instant it was queued.
    struct Block {
        uint64_t end = 0;
        int64_t captureNs = 0;
        int64_t queuedNs = 0;
    };

    std::string device;
    unsigned periodUs = 0;
    unsigned outRate = 0;  // of the queued samples: the law's
    size_t packetSamples = 0;
    std::shared_ptr<const platform::WakeEvent> wake;
    TickSource* clock = nullptr;  // read only while the source has not let the thread go
    // kOpening until the thread publishes kCapturing (after rate) or kFailed (after reason).
    std::atomic<State> state{State::kOpening};
    std::string reason;
    unsigned rate = 0;
    std::vector<int16_t> samples = std::vector<int16_t>(kQueueSamples);
    std::vector<Block> blocks = std::vector<Block>(kQueueBlocks);
    std::atomic<uint64_t> written{0};  // samples queued, ever
    std::atomic<uint64_t> read{0};     // samples taken or dropped, ever
    std::atomic<uint64_t> blocksWritten{0};
    std::atomic<uint64_t> blocksRead{0};
    // Independent values: relaxed order suffices.
    std::atomic<float> level{0.0F};
    std::atomic<double> trimPpm{0.0};
    std::atomic<bool> stop{false};
    // The device has shown that it runs free of real time (a file, no clock): it delivered
    // far more than real time allows, or filled the queue. Once set, for the page's life.
    std::atomic<bool> freeRunning{false};
    // Set by the thread last of all (release), so that a join after it is immediate.
    std::atomic<bool> exited{false};

    void Fail(const std::string& why) {
        reason = why;
        state.store(State::kFailed, std::memory_order_release);
        wake->Signal();
    }

    // Queues `count` converted samples, the last one's sound captured at captureNs. A full
    // queue means the worker is held to real time and the device runs ahead of it (a file,
    // no clock): the reading waits, a period at a time, and the audio is kept.
    void Queue(const int16_t* out, size_t count, int64_t captureNs, int64_t periodNs) {
        const uint64_t at = written.load(std::memory_order_relaxed);
        const uint64_t block = blocksWritten.load(std::memory_order_relaxed);
        // The acquire loads pair with the worker's release of what it took: the slots
        // written below are free. A source that is stopping takes nothing more.
        while (at + count - read.load(std::memory_order_acquire) > kQueueSamples ||
               block - blocksRead.load(std::memory_order_acquire) >= kQueueBlocks) {
            if (stop.load(std::memory_order_relaxed)) {
                return;
            }
            freeRunning.store(true, std::memory_order_relaxed);
            platform::SleepUntilNs(platform::MonotonicNowNs() + periodNs);
        }
        // The block's record first: a consumer that sees the samples sees their record.
        blocks[block % kQueueBlocks] = {at + count, captureNs, clock->NowNs()};
        blocksWritten.store(block + 1, std::memory_order_release);
        for (size_t i = 0; i < count; ++i) {
            samples[(at + i) % kQueueSamples] = out[i];
        }
        written.store(at + count, std::memory_order_release);
        // Once, as a whole packet comes to wait: a worker that takes one and finds another
        // takes it without being told.
        const uint64_t taken = read.load(std::memory_order_acquire);
        if (at + count - taken >= packetSamples && at - taken < packetSamples) {
            wake->Signal();
        }
    }
};

LiveSource::~LiveSource() {
    Stop();
}

bool LiveSource::Start(const Settings& settings, const std::atomic<double>& gain,
                       const std::shared_ptr<const platform::WakeEvent>& wake, TickSource& clock) {
    Stop();
    m_reason.clear();
    const OutputCodec* codec = FindOutputCodec(settings.law);
    if (codec == nullptr) {
        m_reason = "a page is sent as mu-law, A-law or G.722";
        return false;
    }
    m_rate = static_cast<uint32_t>(codec->sampleRate);
    const int64_t samples = static_cast<int64_t>(settings.ptimeMs) * m_rate / 1000;
    if (settings.ptimeMs <= 0 || samples <= 0 ||
        samples > static_cast<int64_t>(kQueueSamples / 4)) {
        m_reason = "the packet time " + std::to_string(settings.ptimeMs) + " ms cannot be sent";
        return false;
    }
    m_packetSamples = static_cast<size_t>(samples);
    m_packetNs = samples * kNsPerSecond / m_rate;
    m_payloadType = codec->payloadType;
    m_clockRate = codec->clockRate;
    m_pcm.assign(m_packetSamples * 2, 0);
    // 64 kbit/s whichever the law: 8 bytes a millisecond.
    m_payload.assign(static_cast<size_t>(settings.ptimeMs) * kOutputBytesPerMs, 0);
    uint8_t pcmFormat[sizeof(WAVEFORMATEX)];
    uint8_t lawFormat[sizeof(WAVEFORMATEX)];
    WriteWaveFormat(Pcm16WaveFormat(1, m_rate), pcmFormat);
    WAVEFORMATEX law{};
    law.wFormatTag = settings.law;
    law.nChannels = 1;
    law.nSamplesPerSec = m_rate;
    law.nAvgBytesPerSec = kOutputBytesPerMs * 1000;
    law.nBlockAlign = 1;
    law.wBitsPerSample = static_cast<uint16_t>(kOutputBytesPerMs * 8000 / m_rate);  // 8 or 4
    WriteWaveFormat(law, lawFormat);
    if (!m_encode.Open(pcmFormat, sizeof pcmFormat, lawFormat, sizeof lawFormat) ||
        !m_encode.Prepare(m_pcm.data(), static_cast<uint32_t>(m_pcm.size()), m_payload.data(),
                          static_cast<uint32_t>(m_payload.size()))) {
        m_reason = "no codec encodes the page's law";
        return false;
    }
    m_gain = &gain;
    m_schedule.Start(m_packetNs);
    m_shared = std::make_shared<Shared>();
    m_shared->device = settings.device;
    m_shared->outRate = m_rate;
    m_shared->periodUs =
        std::min(kCapturePeriodUs, static_cast<unsigned>(settings.ptimeMs) * 1000u);
    m_shared->packetSamples = m_packetSamples;
    m_shared->wake = wake;
    m_shared->clock = &clock;
    platform::AlsaCapture::LoadConfiguration();
    m_startedNs = platform::MonotonicNowNs();
    try {
        m_thread = std::thread(&LiveSource::Capture, m_shared);
    } catch (const std::system_error&) {
        m_shared.reset();
        m_reason = "cannot start the capture thread";
        return false;
    }
    return true;
}

void LiveSource::Capture(std::shared_ptr<Shared> shared) {
    // The device's own pace drives this thread; it asks for what the worker has.
    platform::RaiseCurrentThreadPriority();
    Shared& s = *shared;
    platform::AlsaCapture capture;
    LiveResampler converter;
    if (!capture.Open(s.device.c_str(), s.periodUs)) {
        s.Fail(capture.Reason());
    } else if (s.stop.load(std::memory_order_relaxed)) {
        // Given up on while it opened: the source, and maybe its clock, are gone.
    } else if (!converter.Open(capture.Rate(), capture.Channels(), s.outRate)) {
        s.Fail("the capture device \"" + s.device + "\" delivers " +
               std::to_string(capture.Rate()) + " Hz, which cannot be converted");
    } else {
        s.rate = capture.Rate();
        s.state.store(State::kCapturing, std::memory_order_release);
        s.wake->Signal();
        CaptureBlocks(s, capture, converter);
    }
    s.exited.store(true, std::memory_order_release);
}

void LiveSource::CaptureBlocks(Shared& s, platform::AlsaCapture& capture,
                               LiveResampler& converter) {
    std::vector<int16_t> block(capture.PeriodFrames() * capture.Channels());
    std::vector<int16_t> out(converter.OutputBound(capture.PeriodFrames()));
    const int64_t delayNs = converter.DelayNs();
    const int64_t periodNs =
        static_cast<int64_t>(capture.PeriodFrames()) * kNsPerSecond / std::max(capture.Rate(), 1u);
    const int64_t startNs = platform::MonotonicNowNs();
    uint64_t delivered = 0;  // frames
    while (!s.stop.load(std::memory_order_relaxed)) {
        size_t frames = 0;
        int64_t lastNs = 0;
        if (capture.Read(block.data(), frames, lastNs) !=
            platform::AlsaCapture::ReadResult::kBlock) {
            s.Fail(capture.Reason());
            return;
        }
        // A clocked device delivers what real time allows and its start's burst (what its
        // buffer held); one that has delivered far more runs free of real time.
        delivered += frames;
        const int64_t aheadNs = static_cast<int64_t>(delivered * kNsPerSecond / capture.Rate()) -
                                (platform::MonotonicNowNs() - startNs);
        if (aheadNs > kFreeRunningAheadNs) {
            s.freeRunning.store(true, std::memory_order_relaxed);
        }
        int peak = 0;
        for (size_t i = 0; i < frames * capture.Channels(); ++i) {
            peak = std::max(peak, std::abs(static_cast<int>(block[i])));
        }
        s.level.store(static_cast<float>(peak) / 32768.0F, std::memory_order_relaxed);
        converter.SetTrimPpm(s.trimPpm.load(std::memory_order_relaxed));
        const size_t got = converter.Process(block.data(), frames, out.data(), out.size());
        if (got > 0) {
            s.Queue(out.data(), got, lastNs - delayNs, periodNs);
        }
    }
}

LiveSource::State LiveSource::Poll() {
    if (!m_shared) {
        return State::kFailed;
    }
    State state = m_shared->state.load(std::memory_order_acquire);
    if (state == State::kOpening && platform::MonotonicNowNs() - m_startedNs > kOpenTimeoutNs) {
        m_reason = "the capture device \"" + m_shared->device + "\" did not open within " +
                   std::to_string(kOpenTimeoutNs / kNsPerSecond) + " s";
        Stop();
        return State::kFailed;
    }
    if (state == State::kFailed && m_reason.empty()) {
        m_reason = m_shared->reason;  // written before the state (acquire above)
    }
    return state;
}

bool LiveSource::Ready() const {
    // Whole packets that came before the device ended still go out.
    return m_shared && m_shared->written.load(std::memory_order_acquire) -
                               m_shared->read.load(std::memory_order_relaxed) >=
                           m_packetSamples;
}

bool LiveSource::Finished() const {
    return !m_shared ||
           (m_shared->state.load(std::memory_order_acquire) == State::kFailed && !Ready());
}

bool LiveSource::Take(int64_t instantNs, SourcePacket& packet) {
    if (!Ready()) {
        return false;
    }
    Shared& s = *m_shared;
    const uint64_t written = s.written.load(std::memory_order_acquire);
    uint64_t first = s.read.load(std::memory_order_relaxed);
    // The schedule says which packet goes: the oldest, the newest after a burst (a device
    // free of real time keeps all its audio), or none after packets that waited too long.
    const LiveSchedule::Step step = m_schedule.Plan(instantNs, (written - first) / m_packetSamples,
                                                    !s.freeRunning.load(std::memory_order_relaxed));
    if (step == LiveSchedule::Step::kDrop) {
        s.read.store(written, std::memory_order_release);
        return false;
    }
    if (step == LiveSchedule::Step::kNewest) {
        first = written - m_packetSamples;
    }
    int64_t captureNs = 0;
    int64_t readyNs = 0;
    CopyPacket(first, captureNs, readyNs);
    s.read.store(first + m_packetSamples, std::memory_order_release);
    s.trimPpm.store(m_schedule.Taken(step, instantNs, readyNs), std::memory_order_relaxed);
    Encode();
    packet.payload = m_payload.data();
    packet.length = static_cast<int>(m_payload.size());
    packet.payloadType = m_payloadType;
    packet.clockRate = m_clockRate;
    packet.captureNs = captureNs;
    return true;
}

void LiveSource::CopyPacket(uint64_t first, int64_t& captureNs, int64_t& readyNs) {
    Shared& s = *m_shared;
    const uint64_t last = first + m_packetSamples - 1;
    uint64_t blocksRead = s.blocksRead.load(std::memory_order_relaxed);
    const uint64_t blocksWritten = s.blocksWritten.load(std::memory_order_acquire);
    // Blocks wholly before the packet are done with.
    while (blocksRead < blocksWritten && s.blocks[blocksRead % kQueueBlocks].end <= first) {
        ++blocksRead;
    }
    captureNs = SourcePacket::kNoCapture;
    readyNs = platform::MonotonicNowNs();
    for (uint64_t b = blocksRead; b < blocksWritten; ++b) {
        const Shared::Block& block = s.blocks[b % kQueueBlocks];
        if (captureNs == SourcePacket::kNoCapture && block.end > first) {
            captureNs = block.captureNs -
                        static_cast<int64_t>(block.end - 1 - first) * kNsPerSecond / m_rate;
        }
        if (block.end > last) {
            readyNs = block.queuedNs;
            break;
        }
    }
    s.blocksRead.store(blocksRead, std::memory_order_release);
    for (size_t i = 0; i < m_packetSamples; ++i) {
        platform::StoreLe16s(m_pcm.data() + 2 * i, s.samples[(first + i) % kQueueSamples]);
    }
}

void LiveSource::Encode() {
    const double gain = m_gain->load(std::memory_order_relaxed);
    if (gain != 1.0) {
        // As the files' volume: truncated toward zero, held at the 16-bit limits.
        for (size_t i = 0; i < m_packetSamples; ++i) {
            double product = std::trunc(platform::LoadLe16s(m_pcm.data() + 2 * i) * gain);
            product = std::clamp(product, static_cast<double>(std::numeric_limits<int16_t>::min()),
                                 static_cast<double>(std::numeric_limits<int16_t>::max()));
            platform::StoreLe16s(m_pcm.data() + 2 * i, static_cast<int16_t>(product));
        }
    }
    m_encode.Convert(static_cast<uint32_t>(m_pcm.size()));
}

float LiveSource::Level() const {
    return m_shared ? m_shared->level.load(std::memory_order_relaxed) : 0.0F;
}

double LiveSource::TrimPpm() const {
    return m_shared ? m_shared->trimPpm.load(std::memory_order_relaxed) : 0.0;
}

unsigned LiveSource::DeviceRate() const {
    return m_shared && m_shared->state.load(std::memory_order_acquire) == State::kCapturing
               ? m_shared->rate
               : 0;
}

const std::string& LiveSource::Reason() const {
    return m_reason;
}

void LiveSource::Stop() {
    if (!m_thread.joinable()) {
        m_shared.reset();
        return;
    }
    m_shared->stop.store(true, std::memory_order_relaxed);
    // An open may never end: the thread is let go at once. A read ends within a period,
    // unless the device hangs.
    const bool opening = m_shared->state.load(std::memory_order_acquire) == State::kOpening;
    const int64_t until = platform::MonotonicNowNs() + (opening ? 0 : kStopWaitNs);
    while (!m_shared->exited.load(std::memory_order_acquire) &&
           platform::MonotonicNowNs() < until) {
        platform::SleepUntilNs(platform::MonotonicNowNs() + 2000000);
    }
    if (m_shared->exited.load(std::memory_order_acquire)) {
        m_thread.join();
    } else {
        m_thread.detach();  // it holds its own share of the state
    }
    m_shared.reset();
    m_encode.Release();
}

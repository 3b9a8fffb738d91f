#pragma once
// Live audio from a capture device as packets of G.711 or G.722: a packet source with its own
// device, converter and thread. The capture thread opens the device (which may take long, or
// never end: a FIFO nobody writes, a sound server that hangs), reads it block by block at the
// device's pace, converts each block to mono at the law's rate (8 or 16 kHz) with a low-delay rate
// converter and queues the samples for the worker, waking it. The worker takes a packet as soon as
// its samples are all there, applies the live volume and encodes it.
//
// Held to real time: packet k never leaves before the instant of the first plus k packet
// times, whatever the device delivers. A device whose clock runs ahead (none at all, a file,
// a broken driver) fills the queue, and its reading waits while the queue is full, so its
// audio is paced, not dropped, and never floods a destination. A device paced by its own
// clock never has more than a packet waiting when the next is due, but for a burst of what
// it held before (at its start, or a sound server delivering late in one piece): such stale
// packets are dropped, and the page goes on from the newest whole packet. Packets late by a
// packet time or two are caught up with; a device that stalls for longer moves the schedule
// on, and the timestamps jump over the gap.
//
// Drift: each packet taken measures how late it completed against its real-time instant,
// and the capture thread trims the converter's ratio as DriftSteering says: the lag settles
// within a few milliseconds (2 ms at 200 ppm) and the audio is neither dropped nor
// repeated, so latency stays bounded and nothing clicks.
//
// Threads: everything here belongs to the streaming worker; the capture thread is the
// source's own. They share one block of state, kept alive by whichever ends last, so that a
// capture thread stuck in a device's open is let go, harmless, when the page gives up on it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec/codecstage.h"
#include "engine/liveschedule.h"
#include "engine/packetsource.h"
#include "engine/ticksource.h"

class LiveResampler;
namespace platform {
class AlsaCapture;
class WakeEvent;
}  // namespace platform

class LiveSource final : public PacketSource {
public:
    struct Settings {
        std::string device = "default";
        uint16_t law = 7;  // WAVE_FORMAT_MULAW, WAVE_FORMAT_ALAW (6) or WAVE_FORMAT_G722_ADPCM
        int ptimeMs = 20;
    };
    enum class State : uint8_t {
        kOpening,    // the capture thread is opening the device
        kCapturing,  // samples come
        kFailed,     // Reason() says why; no packet comes again
    };
    // How long a device may take to open before the page gives up on it.
    static constexpr int64_t kOpenTimeoutNs = 3000000000;
    // The capture period asked of the device: short, so that a packet waits little for the
    // block that completes it.
    static constexpr unsigned kCapturePeriodUs = 2500;

    LiveSource() = default;
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;
    ~LiveSource() override;  // Stop()

    // Starts the capture thread, which opens the device. False (Reason() says why) when the
    // law or the packet time cannot be sent or no thread can be made; nothing runs then.
    // `gain` is the live volume (linear) read at each packet; `wake` is signalled when the
    // device opened or failed and whenever a packet completes; `clock` times the packets'
    // completion, the real-time pace they are held to (the worker's clock). The gain and
    // the clock must outlive the source.
    bool Start(const Settings& settings, const std::atomic<double>& gain,
               const std::shared_ptr<const platform::WakeEvent>& wake, TickSource& clock);
    // The device's state now; a device still opening after kOpenTimeoutNs (monotonic) is
    // given up: kFailed.
    State Poll();
    bool Ready() const override;
    // Takes the next packet; the first one taken is the newest whole packet (what came
    // before it, at most a packet of the device's start, is dropped: the page starts at its
    // lowest latency). instantNs: now. Fills packet.captureNs, and ScheduleNs() is then the
    // real-time instant the packet stands for.
    bool Take(int64_t instantNs, SourcePacket& packet) override;
    bool Finished() const override;
    // The earliest monotonic instant the next packet may leave (0 before the first).
    int64_t EarliestNs() const { return m_schedule.EarliestNs(); }
    // The real-time instant the packet taken last stands for, and the first one's.
    int64_t ScheduleNs() const { return m_schedule.ScheduleNs(); }
    int64_t FirstScheduleNs() const { return m_schedule.FirstScheduleNs(); }
    int64_t PacketNs() const { return m_packetNs; }
    // The peak of the last captured block, 0 to 1.
    float Level() const;
    // The converter's trim now, in ppm.
    double TrimPpm() const;
    unsigned DeviceRate() const;
    const std::string& Reason() const;
    // Ends the capture. A thread that does not end within a short wait (stuck in the
    // device's open or read) is let go.
    void Stop();

private:
    struct Shared;
    // The capture thread's routine.
    static void Capture(std::shared_ptr<Shared> shared);
    // Reads, converts and queues the opened device's blocks until told to stop or it fails.
    static void CaptureBlocks(Shared& shared, platform::AlsaCapture& capture,
                              LiveResampler& converter);
    // Copies the samples of the packet starting at sample `first` into m_pcm; their capture
    // and completion instants.
    void CopyPacket(uint64_t first, int64_t& captureNs, int64_t& readyNs);
    // The volume and the law's code of m_pcm into m_payload.
    void Encode();

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    const std::atomic<double>* m_gain = nullptr;
    std::string m_reason;
    int64_t m_startedNs = 0;
    size_t m_packetSamples = 0;
    int64_t m_packetNs = 0;
    int m_payloadType = 0;
    uint32_t m_rate = 8000;      // of the samples the law's coder takes
    int32_t m_clockRate = 8000;  // of the packets' timestamps
    std::vector<uint8_t> m_pcm;  // one packet of 16-bit little-endian samples
    std::vector<uint8_t> m_payload;
    CodecStage m_encode;
    LiveSchedule m_schedule;
};

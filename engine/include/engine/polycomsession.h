#pragma once
// One Polycom paging session as a schedule of packets: 31 Alerts 30 ms apart, so that phones
// joining during the burst are ready when the audio starts; the first Transmit 64 ms after
// the last Alert, then one every 20 ms on absolute deadlines (each after the first carrying the
// previous frame too, the sample count stepping 160); once the audio has ended, 50 ms with no
// Transmit, then 12 Ends 30 ms apart. Audio that comes while the Alerts go out waits for them:
// the caller keeps it (a live page buffers its microphone from key-down) and hands it over one
// frame per Transmit.
//
// Pure: the caller owns the clock, the socket and the frames. Step is called once the clock
// reaches DueNs() and says what to send then. Allocates nothing; one thread at a time.

#include <cstddef>
#include <cstdint>

#include "engine/polycompackets.h"

class PolycomSession {
public:
    static constexpr int kAlerts = 31;
    static constexpr int kEnds = 12;
    static constexpr int64_t kAlertNs = 30000000;
    static constexpr int64_t kAlertToAudioNs = 64000000;
    static constexpr int64_t kTransmitNs = 20000000;
    static constexpr int64_t kGapNs = 50000000;  // from the last Transmit to the first End
    static constexpr int64_t kEndNs = 30000000;

    enum class Phase : uint8_t { kIdle, kAlerting, kTransmitting, kEnding, kDone };

    // A session of `sender` in `codec` begins at nowNs with its first Alert; the sample count
    // starts at `firstSample` (a caller that continues another session's count passes it on).
    void Start(const polycom::Sender& sender, polycom::Codec codec, int64_t nowNs,
               uint32_t firstSample = 0);
    // The packet due now into `out` (polycom::kMaxPacketBytes), its length; 0 when nothing is
    // due or the slot passes without audio. `frame`: the next 20 ms of audio (kFrameBytes),
    // null when none is at hand; `ending`: no more audio will come, so a slot without a frame
    // ends the session. A Transmit slot missed by more than a period is skipped, not sent late.
    size_t Step(int64_t nowNs, const uint8_t* frame, bool ending, uint8_t* out);

    // The codec the next Transmits name (a playlist may change it from one file to the next).
    void SetCodec(polycom::Codec codec) { m_codec = codec; }
    Phase CurrentPhase() const { return m_phase; }
    int64_t DueNs() const { return m_dueNs; }
    // Step will take a frame (it is a Transmit slot).
    bool WantsFrame() const { return m_phase == Phase::kTransmitting; }
    uint32_t NextSample() const { return m_sample; }

private:
    polycom::Sender m_sender;
    polycom::Codec m_codec = polycom::Codec::kMulaw;
    Phase m_phase = Phase::kIdle;
    int m_count = 0;  // Alerts, or Ends, sent in this phase
    int64_t m_dueNs = 0;
    uint32_t m_sample = 0;
    bool m_havePrevious = false;
    uint8_t m_previous[polycom::kFrameBytes] = {};
};

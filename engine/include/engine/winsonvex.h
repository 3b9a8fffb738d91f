#pragma once
// The transcoding engine of the main view. For one playlist entry at a time it opens the
// source, builds the three-stage codec chain (source -> 16-bit PCM -> 16-bit mono PCM at the
// output rate -> G.711 or G.722), sizes every buffer from the packetization time, and on each tick
// produces one packet and hands it to the transmitter it feeds, which sends it to up to 100
// destinations. The file pipeline and nothing else: what reaches the wire, and when another
// source takes the wire over, is the transmitter's and the streaming session's.
//
// Threads: construction, SetVolumeDb and ProbeSource run on the UI thread; Feed, OpenEntry,
// ProducePacket and CloseEntry on the streaming worker. m_gain is the only member the UI
// thread writes while the worker runs.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "engine/buffercyclic.h"
#include "engine/transmitter.h"
#include "media/audiosourcefile.h"
#include "media/codecchain.h"
#include "playlist/playlist.h"

class WinSonvex {
public:
    static constexpr int kSenderCount = Transmitter::kSenderCount;

    WinSonvex();  // discovers the installed codecs once
    WinSonvex(const WinSonvex&) = delete;
    WinSonvex& operator=(const WinSonvex&) = delete;
    virtual ~WinSonvex();  // closes an entry left open

    // The transmitter ProducePacket hands its packets to (it must outlive its use); null
    // drops them, as an entry with no destinations would.
    void Feed(Transmitter* transmitter) { m_transmitter = transmitter; }
    // Opens the entry's source and codec chain; true on success. The destinations are
    // copied and handed to the transmitter. A failure releases what it acquired; CloseEntry
    // must not follow it. `bytes`, when given, are the source's bytes already at hand
    // (memory, for the fuzzer) in place of the entry's file.
    bool OpenEntry(const PlaylistFile& entry, const std::vector<RtpDestination>& destinations,
                   std::unique_ptr<platform::ByteSource> bytes = nullptr);
    // One packet per call: true when a packet was produced and handed to the transmitter,
    // false when the source is exhausted (EndOfSource() is then set). NextPayload and the
    // transmitter's Send.
    bool ProducePacket();
    // The first half of ProducePacket, for a caller that sends the payload itself: the next
    // packet's PayloadBytes() bytes of PayloadType(), or null when the source is exhausted.
    // The packet's samples were decoded, taken from the ring and resampled by the previous
    // call, after its send; this call only applies the gain to them and encodes them (one
    // packet of 8-bit samples, microseconds), so a volume change reaches the next packet and
    // decoding never delays a send (except on the first call of an entry, which has nothing
    // prepared yet). At the end of the source its last partial chunk, what the decoder and
    // the rate converter hold back and what the ring holds back all go out; the last packet
    // is completed with silence, so every packet has the entry's size. The payload
    // stays valid until the next call; the samples for that call are prepared by
    // PrepareNext, which ProducePacket calls after its send.
    const uint8_t* NextPayload();
    // Decodes and resamples the samples of the packet after the one NextPayload gave: what a
    // caller does once that packet is out.
    void PrepareNext();
    // The deadline (monotonic ns) of the tick whose packet the next ProducePacket sends: the
    // instant the transmitter's timestamps follow.
    void SetTickDeadlineNs(int64_t deadlineNs) { m_tickNs = deadlineNs; }
    // The open entry's RTP clock: its rate for G.711, 8000 Hz for G.722.
    int32_t ClockRate() const { return m_clockRate; }
    int PayloadType() const { return m_payloadType; }
    void CloseEntry();  // no-op when no entry is open
    bool EndOfSource() const { return m_endOfSource != 0; }

    // Opens and closes a temporary reader and checks that a codec decodes the format; on
    // false info and text are unchanged. Touches no engine state.
    bool ProbeSource(const char* path, SourceFormatInfo& info, std::string& text);
    // m_gain = 10^(dB / 20).
    void SetVolumeDb(int dB);
    double Gain() const { return m_gain.load(std::memory_order_relaxed); }
    // The live volume itself, for another source (a page) that follows it packet by packet.
    const std::atomic<double>& GainValue() const { return m_gain; }

    int Mp3CodecCount() const { return m_mp3CodecCount; }
    // Sizes of the open entry, for diagnostics and tests.
    int PayloadBytes() const { return m_payloadBytes; }
    uint32_t PacketPcmBytes() const { return m_packetPcmBytes; }
    uint32_t RingCapacity() const { return m_ring ? m_ring->Capacity() : 0; }
    bool IsEntryOpen() const { return m_ring != nullptr; }
    // The next packet's payload is built and waits for the next ProducePacket.
    bool PacketReady() const { return m_ring && m_payloadReady; }

private:
    // What OpenEntry derives from the entry before it acquires anything: the output format
    // of the chain and the sizes the entry fixes.
    struct ChainPlan {
        std::array<uint8_t, sizeof(WAVEFORMATEX)> output{};
        uint32_t frameBytes = 0;  // of the decoded PCM
        uint32_t chunkBytes = 0;
        int payloadBytes = 0;
        int payloadType = 0;
        int32_t clockRate = 0;
    };

    // Checks m_entry's stored format, chunk and packet sizes; false when the engine could
    // not stream it (nothing is acquired either way).
    bool ValidateEntry(ChainPlan& plan) const;
    // Opens the three stages and the source; false when a stage has no codec or the file
    // cannot be opened or has changed since its probe.
    bool OpenChain(const ChainPlan& plan, std::unique_ptr<platform::ByteSource> bytes);
    // Sizes, allocates and prepares the buffers and the ring; false when a size is absurd.
    bool SizeBuffers(const ChainPlan& plan);
    // Releases what OpenEntry acquired; safe on a partly opened entry.
    void ReleaseEntry();
    // Decodes into the ring until it holds a whole packet or the source is all decoded.
    void TopUp();
    // Resamples the next packet's samples into the chain's mix buffer from the ring (topped up
    // first) or, at the end of the source, from what is left and what the rate converter still
    // holds; false when there is none.
    bool PrepareSamples();
    // Gain and the output codec of the prepared samples into the chain's encoded buffer, completed
    // with silence.
    void EncodePayload();
    void ApplyGain(uint32_t monoBytes);

    int m_mp3CodecCount = 0;
    int m_endOfSource = 0;        // written and read on the worker only
    bool m_payloadReady = false;  // the mix buffer holds the next packet's samples, not yet sent
    uint32_t m_monoReady = 0;     // bytes of them
    PlaylistFile m_entry;
    std::vector<RtpDestination> m_destinations;  // copied at each open, for the transmitter
    Transmitter* m_transmitter = nullptr;
    std::unique_ptr<BufferCyclic> m_ring;
    // The source and the stages: source format -> 16-bit PCM at the source's rate and
    // channels -> 16-bit mono PCM at the output rate -> G.711 or G.722, one packet per Encode.
    CodecChain m_chain;
    uint32_t m_maxFormatSize = 0;
    uint32_t m_decodedMax = 0;
    uint32_t m_packetPcmBytes = 0;
    int m_payloadBytes = 0;
    int m_payloadType = 0;
    int32_t m_clockRate = 8000;
    int64_t m_tickNs = 0;  // worker only
    // Written by the UI thread, read once per packet by the worker. Relaxed order suffices:
    // the gain is an independent value and a tick may use the old or the new one.
    std::atomic<double> m_gain{1.0};
};

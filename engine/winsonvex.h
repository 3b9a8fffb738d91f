#pragma once
// The transcoding engine of the main view. For one playlist entry at a time it opens the
// source, builds the three-stage codec chain (source -> 16-bit PCM -> 16-bit mono PCM at the
// output rate -> G.711), sizes every buffer from the packetization time, and on each tick
// produces one packet and hands it to up to 100 RTP senders.
//
// Threads: construction, SetVolumeDb and ProbeSource run on the UI thread; OpenEntry,
// ProducePacket and CloseEntry on the streaming worker. m_gain is the only member the UI
// thread writes while the worker runs.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/buffercyclic.h"
#include "engine/rtpprocessor.h"
#include "media/audiosourcefile.h"
#include "platform/acm.h"
#include "playlist/playlist.h"

class WinSonvex {
public:
    static constexpr int kSenderCount = 100;

    WinSonvex();  // discovers the installed codecs once
    WinSonvex(const WinSonvex&) = delete;
    WinSonvex& operator=(const WinSonvex&) = delete;
    virtual ~WinSonvex();

    // Opens the entry's source and codec chain; true on success. A failure releases what it
    // acquired; CloseEntry must not follow it.
    bool OpenEntry(const PlaylistFile& entry, const std::vector<RtpDestination>& destinations);
    // One packet per call: true when a packet was produced and sent, false when the source
    // is exhausted (EndOfSource() is then set).
    bool ProducePacket();
    void CloseEntry();
    bool EndOfSource() const { return m_endOfSource != 0; }

    // Opens and closes a temporary reader; touches no engine state.
    bool ProbeSource(const char* path, SourceFormatInfo& info, std::string& text);
    // m_gain = 10^(dB / 20).
    void SetVolumeDb(int dB);
    double Gain() const { return m_gain.load(std::memory_order_relaxed); }

    int Mp3CodecCount() const { return m_mp3CodecCount; }
    const RtpProcessor& Sender(int index) const { return m_rtp[static_cast<size_t>(index)]; }

private:
    int m_mp3CodecCount = 0;
    int m_endOfSource = 0;  // written and read on the worker only
    std::array<RtpProcessor, kSenderCount> m_rtp;
    // Written by the UI thread, read per sample by the worker. Relaxed order suffices: the
    // gain is an independent value and a tick may use the old or the new one.
    std::atomic<double> m_gain{1.0};
};

#pragma once
// Media and network helpers for the engine tests: generated WAV sources, G.711 mu-law,
// a loopback RTP receiver and a temporary folder.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/winsonvex.h"
#include "playlist/playlist.h"
#include "support/loopbackreceiver.h"
#include "support/mulaw.h"
#include "support/tempdir.h"
#include "support/tonedevice.h"

using testsupport::MulawEncode;
using testsupport::TempDir;

// A sine of `hz` at `amplitude` (of 32767) in every channel, 16-bit PCM.
bool WritePcmWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                 double hz, double amplitude);
// A constant 16-bit PCM signal.
bool WriteConstantWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                      int16_t value);
// The same tone, G.711 mu-law (format tag 7), mono.
bool WriteMulawWav(const std::string& path, uint32_t rate, double seconds, double hz,
                   double amplitude);
// IMA ADPCM mono 8 kHz made by sox; false when sox is not available.
bool WriteImaAdpcmWav(const std::string& path, double seconds);

// A 22.05 kHz mono 32 kbit/s MP3 of the tone made by lame; false when lame is not available.
bool WriteMp3(const std::string& path, double seconds);

using testsupport::MakeToneDevice;

inline int16_t MulawDecode(uint8_t code) {
    return static_cast<int16_t>(testsupport::MulawToLinear(code));
}

struct RtpPacket {
    bool marker = false;
    int payloadType = -1;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> payload;
};

// A loopback UDP receiver that reads its datagrams as RTP packets.
class RtpReceiver {
public:
    uint16_t Port() const { return m_socket.Port(); }
    RtpDestination Destination() const;
    // Everything queued now, without waiting; datagrams too short for an RTP header are
    // dropped.
    std::vector<RtpPacket> TakeAll();
    // The next packet, or nothing when none arrives within timeoutMs.
    std::optional<RtpPacket> Receive(int timeoutMs = 2000);

private:
    testsupport::LoopbackReceiver m_socket;
};

// An entry for `path` as the source dialog makes it, probed through the engine.
bool MakeEntry(WinSonvex& engine, const std::string& path, int dstFormat, int packetizationMs,
               PlaylistFile& entry);

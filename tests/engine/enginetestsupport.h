#pragma once
// Media and network helpers for the engine tests: generated WAV sources, G.711 mu-law,
// a loopback RTP receiver and a temporary folder.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/winsonvex.h"
#include "playlist/playlist.h"

// A folder under the system's temp dir, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

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

uint8_t MulawEncode(int16_t sample);
int16_t MulawDecode(uint8_t code);

struct RtpPacket {
    bool marker = false;
    int payloadType = -1;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> payload;
};

// A UDP socket bound to an ephemeral port on 127.0.0.1.
class RtpReceiver {
public:
    RtpReceiver();
    ~RtpReceiver();
    RtpReceiver(const RtpReceiver&) = delete;
    RtpReceiver& operator=(const RtpReceiver&) = delete;
    uint16_t Port() const { return m_port; }
    RtpDestination Destination() const;
    // Everything queued now, without waiting.
    std::vector<RtpPacket> TakeAll();

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// An entry for `path` as the source dialog makes it, probed through the engine.
bool MakeEntry(WinSonvex& engine, const std::string& path, int dstFormat, int packetizationMs,
               PlaylistFile& entry);

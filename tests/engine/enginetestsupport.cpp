#include "enginetestsupport.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/wavefile.h"

namespace {

using testsupport::PutU16;
using testsupport::SineSample;
using testsupport::WriteWave;

}  // namespace

bool WritePcmWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                 double hz, double amplitude) {
    const auto frames = static_cast<uint32_t>(std::lround(seconds * rate));
    return WriteWave(path, 1, channels, rate, 16,
                     testsupport::SinePcm16(frames, channels, rate, hz, amplitude));
}

bool WriteConstantWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                      int16_t value) {
    const auto samples = static_cast<size_t>(std::lround(seconds * rate)) * channels;
    std::vector<uint8_t> data;
    for (size_t n = 0; n < samples; ++n) {
        PutU16(data, static_cast<uint16_t>(value));
    }
    return WriteWave(path, 1, channels, rate, 16, data);
}

bool WriteMulawWav(const std::string& path, uint32_t rate, double seconds, double hz,
                   double amplitude) {
    const auto frames = static_cast<size_t>(std::lround(seconds * rate));
    std::vector<uint8_t> data;
    for (size_t n = 0; n < frames; ++n) {
        data.push_back(MulawEncode(SineSample(n, rate, hz, amplitude)));
    }
    return WriteWave(path, 7, 1, rate, 8, data);
}

bool WriteImaAdpcmWav(const std::string& path, double seconds) {
    const std::string command = "sox -q -n -r 8000 -c 1 -e ima-adpcm '" + path + "' synth " +
                                std::to_string(seconds) + " sine 1020 vol 0.5 2>/dev/null";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(path);
}

bool WriteMp3(const std::string& path, double seconds) {
    const std::string wav = path + ".wav";
    if (!WritePcmWav(wav, 22050, 1, seconds, 1020, 16384)) {
        return false;
    }
    const std::string command = "lame --quiet -b 32 '" + wav + "' '" + path + "' 2>/dev/null";
    const bool ok = std::system(command.c_str()) == 0 && std::filesystem::exists(path);
    std::filesystem::remove(wav);
    return ok;
}

RtpDestination RtpReceiver::Destination() const {
    return RtpDestination::FromOctets(127, 0, 0, 1, m_socket.Port());
}

namespace {

RtpPacket ParseRtp(const std::vector<uint8_t>& d) {
    RtpPacket p;
    p.marker = (d[1] & 0x80) != 0;
    p.payloadType = d[1] & 0x7F;
    p.sequence = static_cast<uint16_t>(d[2] << 8 | d[3]);
    p.timestamp = static_cast<uint32_t>(d[4]) << 24 | static_cast<uint32_t>(d[5]) << 16 |
                  static_cast<uint32_t>(d[6]) << 8 | d[7];
    p.ssrc = static_cast<uint32_t>(d[8]) << 24 | static_cast<uint32_t>(d[9]) << 16 |
             static_cast<uint32_t>(d[10]) << 8 | d[11];
    p.payload.assign(d.begin() + 12, d.end());
    if (d[0] != 0x80) {
        p.payloadType = -1;  // not a plain RTP version 2 header
    }
    return p;
}

}  // namespace

std::vector<RtpPacket> RtpReceiver::TakeAll() {
    std::vector<RtpPacket> packets;
    for (const std::vector<uint8_t>& d : m_socket.TakeAll()) {
        if (d.size() >= 12) {
            packets.push_back(ParseRtp(d));
        }
    }
    return packets;
}

std::optional<RtpPacket> RtpReceiver::Receive(int timeoutMs) {
    for (;;) {
        const auto d = m_socket.Receive(timeoutMs);
        if (!d) {
            return std::nullopt;
        }
        if (d->size() >= 12) {
            return ParseRtp(*d);
        }
    }
}

bool MakeEntry(WinSonvex& engine, const std::string& path, int dstFormat, int packetizationMs,
               PlaylistFile& entry) {
    entry = PlaylistFile{};
    std::string description;
    const std::string name = std::filesystem::path(path).filename().string();
    if (!entry.SetName(name.c_str()) ||
        !engine.ProbeSource(path.c_str(), entry.Source, description) ||
        !entry.Source.SetPath(path.c_str())) {
        return false;
    }
    entry.DstFormat = dstFormat;
    entry.DstSampleRate = 8000;
    entry.DstPacketization = packetizationMs;
    entry.Valid = 1;
    return true;
}

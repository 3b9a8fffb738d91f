#include "enginetestsupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sonvex-engine-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!m_path.empty()) {
        std::filesystem::remove_all(m_path, ec);
    }
}

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool WriteWav(const std::string& path, uint16_t tag, uint32_t rate, uint16_t channels,
              uint16_t bits, const std::vector<uint8_t>& data) {
    const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
    const bool extended = tag != 1;  // non-PCM formats carry cbSize
    const uint32_t fmtBytes = extended ? 18 : 16;
    std::vector<uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    Put32(out, static_cast<uint32_t>(4 + 8 + fmtBytes + 8 + data.size()));
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, fmtBytes);
    Put16(out, tag);
    Put16(out, channels);
    Put32(out, rate);
    Put32(out, rate * blockAlign);
    Put16(out, blockAlign);
    Put16(out, bits);
    if (extended) {
        Put16(out, 0);
    }
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

int16_t Tone(size_t n, uint32_t rate, double hz, double amplitude) {
    return static_cast<int16_t>(
        std::lround(amplitude * std::sin(2.0 * M_PI * hz * static_cast<double>(n) / rate)));
}

}  // namespace

bool WritePcmWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                 double hz, double amplitude) {
    const auto frames = static_cast<size_t>(std::lround(seconds * rate));
    std::vector<uint8_t> data;
    data.reserve(frames * channels * 2);
    for (size_t n = 0; n < frames; ++n) {
        const auto s = static_cast<uint16_t>(Tone(n, rate, hz, amplitude));
        for (uint16_t c = 0; c < channels; ++c) {
            Put16(data, s);
        }
    }
    return WriteWav(path, 1, rate, channels, 16, data);
}

bool WriteConstantWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds,
                      int16_t value) {
    const auto samples = static_cast<size_t>(std::lround(seconds * rate)) * channels;
    std::vector<uint8_t> data;
    for (size_t n = 0; n < samples; ++n) {
        Put16(data, static_cast<uint16_t>(value));
    }
    return WriteWav(path, 1, rate, channels, 16, data);
}

bool WriteMulawWav(const std::string& path, uint32_t rate, double seconds, double hz,
                   double amplitude) {
    const auto frames = static_cast<size_t>(std::lround(seconds * rate));
    std::vector<uint8_t> data;
    for (size_t n = 0; n < frames; ++n) {
        data.push_back(MulawEncode(Tone(n, rate, hz, amplitude)));
    }
    return WriteWav(path, 7, rate, 1, 8, data);
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

// ITU-T G.711 mu-law with the bias of 132.
uint8_t MulawEncode(int16_t sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    if (s < 0) {
        s = -s;
    }
    if (s > kClip) {
        s = kClip;
    }
    s += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) {
        --exponent;
    }
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int16_t MulawDecode(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    const int exponent = (u >> 4) & 0x07;
    const int magnitude = ((((u & 0x0F) << 3) + 0x84) << exponent) - 0x84;
    return static_cast<int16_t>((u & 0x80) != 0 ? -magnitude : magnitude);
}

RtpReceiver::RtpReceiver() {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int bufferBytes = 4 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd >= 0 &&
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        socklen_t length = sizeof address;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
}

RtpReceiver::~RtpReceiver() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

RtpDestination RtpReceiver::Destination() const {
    return RtpDestination::FromOctets(127, 0, 0, 1, m_port);
}

std::vector<RtpPacket> RtpReceiver::TakeAll() {
    std::vector<RtpPacket> packets;
    uint8_t buffer[8192];
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 12) {
            break;
        }
        RtpPacket p;
        p.marker = (buffer[1] & 0x80) != 0;
        p.payloadType = buffer[1] & 0x7F;
        p.sequence = static_cast<uint16_t>(buffer[2] << 8 | buffer[3]);
        p.timestamp = static_cast<uint32_t>(buffer[4]) << 24 |
                      static_cast<uint32_t>(buffer[5]) << 16 |
                      static_cast<uint32_t>(buffer[6]) << 8 | buffer[7];
        p.ssrc = static_cast<uint32_t>(buffer[8]) << 24 | static_cast<uint32_t>(buffer[9]) << 16 |
                 static_cast<uint32_t>(buffer[10]) << 8 | buffer[11];
        p.payload.assign(buffer + 12, buffer + got);
        if (buffer[0] != 0x80) {
            p.payloadType = -1;  // not a plain RTP version 2 header
        }
        packets.push_back(std::move(p));
    }
    return packets;
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

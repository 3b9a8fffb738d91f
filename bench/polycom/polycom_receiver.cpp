// A receiver of Polycom group paging, written from the packet format alone: it listens on a
// UDP port (joining a multicast group when given one), and for every session (Alerts, Transmits,
// Ends of one channel and serial) prints the channel, caller ID and serial, the counts and the
// spacing of each kind of packet, whether each redundant frame is the previous packet's
// current one, and writes the audio (mu-law decoded at 8 kHz, G.722 at 16 kHz) to a WAV file.
// With --tone it fits that tone to the audio and prints its level and signal-to-noise ratio,
// beside the ratio of an ideal coding of the same tone.
//
//   polycom_receiver [--group ADDR] [--port N] [--seconds S] [--wav FILE] [--tone HZ]
//                    [--peak P]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g711.h"
#include "codec/g722.h"
#include "platform/monotonicclock.h"

namespace {

struct Session {
    int channel = 0;
    uint32_t serial = 0;
    std::string caller;
    int codec = -1;
    std::vector<int64_t> alerts, transmits, ends;  // arrival instants, ns
    size_t redundantMismatches = 0;
    size_t sampleSteps = 0, badSampleSteps = 0;
    uint32_t lastSample = 0;
    std::vector<uint8_t> lastFrame;
    std::vector<uint8_t> audio;  // the current frames, in order
    bool over = false;
};

uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void Spacing(const char* what, const std::vector<int64_t>& at) {
    if (at.size() < 2) {
        std::printf("  %s: %zu\n", what, at.size());
        return;
    }
    double lo = 1e18, hi = 0, sum = 0;
    for (size_t i = 1; i < at.size(); ++i) {
        const double ms = static_cast<double>(at[i] - at[i - 1]) / 1e6;
        lo = std::min(lo, ms);
        hi = std::max(hi, ms);
        sum += ms;
    }
    std::printf("  %s: %zu, spacing %.2f ms mean, %.2f to %.2f ms\n", what, at.size(),
                sum / static_cast<double>(at.size() - 1), lo, hi);
}

// Least-squares fit of a tone with DC: amplitude and SNR in dB, over [skip, size - skip).
void FitTone(const std::vector<int16_t>& x, double rate, double hz, size_t skip, double& amplitude,
             double& snrDb) {
    double m[3][4] = {};
    const size_t end = x.size() > skip ? x.size() - skip : 0;
    for (size_t i = skip; i < end; ++i) {
        const double w = 2 * M_PI * hz * static_cast<double>(i) / rate;
        const double b[3] = {std::cos(w), std::sin(w), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                m[r][c] += b[r] * b[c];
            }
            m[r][3] += b[r] * x[i];
        }
    }
    for (int p = 0; p < 3; ++p) {
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) {
                m[r][c] -= f * m[p][c];
            }
        }
    }
    double k[3];
    for (int r = 2; r >= 0; --r) {
        double s = m[r][3];
        for (int c = r + 1; c < 3; ++c) {
            s -= m[r][c] * k[c];
        }
        k[r] = s / m[r][r];
    }
    double signal = 0, noise = 0;
    for (size_t i = skip; i < end; ++i) {
        const double w = 2 * M_PI * hz * static_cast<double>(i) / rate;
        const double tone = k[0] * std::cos(w) + k[1] * std::sin(w);
        signal += tone * tone;
        noise += (x[i] - tone - k[2]) * (x[i] - tone - k[2]);
    }
    amplitude = std::hypot(k[0], k[1]);
    snrDb = 10 * std::log10(signal / std::max(noise, 1e-9));
}

bool WriteWav(const std::string& path, const std::vector<int16_t>& samples, uint32_t rate) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const auto data = static_cast<uint32_t>(samples.size() * 2);
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0,  0, 0, 0, 'W', 'A', 'V', 'E',
                     'f', 'm', 't', ' ', 16, 0, 0, 0, 1,   0,   1,   0};
    const auto le32 = [&h](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    le32(4, 36 + data);
    le32(24, rate);
    le32(28, rate * 2);
    h[32] = 2;
    h[34] = 16;
    std::memcpy(h + 36, "data", 4);
    le32(40, data);
    bool ok = std::fwrite(h, 1, sizeof h, f) == sizeof h;
    for (const int16_t s : samples) {
        const uint8_t b[2] = {static_cast<uint8_t>(s & 0xFF),
                              static_cast<uint8_t>((s >> 8) & 0xFF)};
        ok = ok && std::fwrite(b, 1, 2, f) == 2;
    }
    return std::fclose(f) == 0 && ok;
}

void Handle(std::vector<Session>& sessions, const uint8_t* p, size_t n, int64_t now) {
    if (n < 20 || p[6] != 13) {
        return;  // not a paging packet
    }
    const int op = p[0];
    const uint32_t serial = Be32(p + 2);
    if (sessions.empty() || sessions.back().over || sessions.back().channel != p[1] ||
        sessions.back().serial != serial) {
        if (op == 0xFF) {
            return;  // the tail of a session not seen
        }
        Session s;
        s.channel = p[1];
        s.serial = serial;
        s.caller.assign(reinterpret_cast<const char*>(p + 7),
                        ::strnlen(reinterpret_cast<const char*>(p + 7), 13));
        sessions.push_back(s);
    }
    Session& s = sessions.back();
    if (op == 0x0F) {
        s.alerts.push_back(now);
    } else if (op == 0xFF) {
        s.ends.push_back(now);
    } else if (op == 0x10 && (n == 186 || n == 346)) {
        s.codec = p[20];
        const uint32_t sample = Be32(p + 22);
        if (!s.transmits.empty()) {
            ++s.sampleSteps;
            s.badSampleSteps += sample - s.lastSample != 160 ? 1 : 0;
            if (n == 346 &&
                (s.lastFrame.size() != 160 || std::memcmp(p + 26, s.lastFrame.data(), 160) != 0)) {
                ++s.redundantMismatches;
            }
        }
        s.lastSample = sample;
        s.transmits.push_back(now);
        s.lastFrame.assign(p + n - 160, p + n);
        s.audio.insert(s.audio.end(), p + n - 160, p + n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string group;
    int port = 5001;
    double seconds = 10;
    std::string wav;
    double tone = 0;
    double peak = 12000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--group") {
            group = argv[i + 1];
        } else if (arg == "--port") {
            port = std::atoi(argv[i + 1]);
        } else if (arg == "--seconds") {
            seconds = std::atof(argv[i + 1]);
        } else if (arg == "--wav") {
            wav = argv[i + 1];
        } else if (arg == "--tone") {
            tone = std::atof(argv[i + 1]);
        } else if (arg == "--peak") {
            peak = std::atof(argv[i + 1]);
        }
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = group.empty() ? htonl(INADDR_LOOPBACK) : inet_addr(group.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("polycom_receiver: bind");
        return 1;
    }
    if (!group.empty()) {
        ip_mreq join{};
        join.imr_multiaddr.s_addr = inet_addr(group.c_str());
        join.imr_interface.s_addr = htonl(INADDR_ANY);
        if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
            std::perror("polycom_receiver: join");
            return 1;
        }
    }
    std::fprintf(stderr, "polycom_receiver: listening\n");
    std::vector<Session> sessions;
    const int64_t until = platform::MonotonicNowNs() + static_cast<int64_t>(seconds * 1e9);
    uint8_t buffer[2048];
    for (int64_t now = platform::MonotonicNowNs(); now < until; now = platform::MonotonicNowNs()) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, static_cast<int>(std::max<int64_t>((until - now) / 1000000, 1))) <=
            0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            Handle(sessions, buffer, static_cast<size_t>(n), platform::MonotonicNowNs());
            // Receivers count a session over after 3 Ends; the rest still count to it.
            if (!sessions.empty() && sessions.back().ends.size() >= 12) {
                sessions.back().over = true;
            }
        }
    }
    ::close(fd);
    std::printf("%zu session(s)\n", sessions.size());
    for (size_t k = 0; k < sessions.size(); ++k) {
        const Session& s = sessions[k];
        std::printf("session %zu: channel %d, caller \"%s\", serial 0x%08X, codec %s\n", k + 1,
                    s.channel, s.caller.c_str(), s.serial,
                    s.codec == 0   ? "mu-law"
                    : s.codec == 9 ? "G.722"
                                   : "none");
        Spacing("alerts", s.alerts);
        if (!s.alerts.empty() && !s.transmits.empty()) {
            std::printf("  first transmit %.2f ms after the last alert\n",
                        static_cast<double>(s.transmits.front() - s.alerts.back()) / 1e6);
        }
        Spacing("transmits", s.transmits);
        std::printf(
            "  redundant frames not the previous one: %zu; sample count steps not 160: "
            "%zu of %zu\n",
            s.redundantMismatches, s.badSampleSteps, s.sampleSteps);
        if (!s.transmits.empty() && !s.ends.empty()) {
            std::printf("  first end %.2f ms after the last transmit\n",
                        static_cast<double>(s.ends.front() - s.transmits.back()) / 1e6);
        }
        Spacing("ends", s.ends);
        std::vector<int16_t> pcm;
        uint32_t rate = 8000;
        if (s.codec == 9) {
            rate = 16000;
            G722Decoder decoder;
            pcm.resize(s.audio.size() * 2);
            decoder.Decode(s.audio.data(), s.audio.size(), pcm.data());
        } else {
            pcm.resize(s.audio.size());
            G711DecodeMulaw(s.audio.data(), pcm.data(), s.audio.size());
        }
        if (!wav.empty()) {
            const std::string path = sessions.size() == 1 ? wav : wav + "." + std::to_string(k + 1);
            std::printf("  %zu samples at %u Hz written to %s%s\n", pcm.size(), rate, path.c_str(),
                        WriteWav(path, pcm, rate) ? "" : " (failed)");
        }
        if (tone > 0 && pcm.size() > rate) {
            double amplitude = 0, snr = 0;
            FitTone(pcm, rate, tone, rate / 4, amplitude, snr);
            // The ideal: the exact tone through the same coder.
            std::vector<int16_t> ideal(pcm.size());
            for (size_t i = 0; i < ideal.size(); ++i) {
                ideal[i] = static_cast<int16_t>(
                    std::lround(peak * std::sin(2 * M_PI * tone * static_cast<double>(i) / rate)));
            }
            if (s.codec == 9) {
                G722Encoder encoder;
                G722Decoder decoder;
                std::vector<uint8_t> codes(ideal.size() / 2);
                encoder.Encode(ideal.data(), ideal.size(), codes.data());
                decoder.Decode(codes.data(), codes.size(), ideal.data());
            } else {
                for (int16_t& v : ideal) {
                    v = G711MulawToLinear(G711LinearToMulaw(v));
                }
            }
            double idealAmplitude = 0, idealSnr = 0;
            FitTone(ideal, rate, tone, rate / 4, idealAmplitude, idealSnr);
            std::printf(
                "  %.0f Hz tone: level %.2f dB of %.0f, SNR %.1f dB (ideal coding %.1f dB)\n", tone,
                20 * std::log10(amplitude / peak), peak, snr, idealSnr);
        }
    }
    return 0;
}

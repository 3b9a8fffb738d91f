// Sends one Polycom paging session of a tone, paced on absolute deadlines: the Alert burst,
// SECONDS of audio in Transmits, the gap and the End burst, to a group or host.
//
//   polycom_send [--to ADDR] [--port N] [--channel N] [--caller TEXT] [--serial N]
//                [--seconds S] [--tone HZ] [--peak P] [--codec mu|g722] [--ttl N]

#include <arpa/inet.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/g711.h"
#include "codec/g722.h"
#include "engine/polycomsession.h"
#include "platform/monotonicclock.h"
#include "platform/udpsocket.h"
#include "playlist/destinationcheck.h"

int main(int argc, char** argv) {
    std::string to = "224.0.1.116";
    int port = polycom::kDefaultPort;
    polycom::Sender sender;
    std::strcpy(sender.callerId, "Sonvex");
    sender.serial = 0x12345678;
    double seconds = 2;
    double tone = 1020;
    double peak = 12000;
    bool g722 = false;
    int ttl = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const char* value = argv[i + 1];
        if (arg == "--to") {
            to = value;
        } else if (arg == "--port") {
            port = std::atoi(value);
        } else if (arg == "--channel") {
            sender.channel = static_cast<uint8_t>(std::atoi(value));
        } else if (arg == "--caller") {
            if (const std::string problem = destinationcheck::CallerIdProblem(value);
                !problem.empty()) {
                std::fprintf(stderr, "polycom_send: %s\n", problem.c_str());
                return 2;
            }
            std::strcpy(sender.callerId, value);
        } else if (arg == "--serial") {
            sender.serial = static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
        } else if (arg == "--seconds") {
            seconds = std::atof(value);
        } else if (arg == "--tone") {
            tone = std::atof(value);
        } else if (arg == "--peak") {
            peak = std::atof(value);
        } else if (arg == "--codec") {
            g722 = std::string(value) == "g722";
        } else if (arg == "--ttl") {
            ttl = std::atoi(value);
        }
    }
    platform::UdpSocket socket;
    socket.SetMulticastTtl(ttl);
    in_addr ip{};
    if (::inet_pton(AF_INET, to.c_str(), &ip) != 1 || !socket.Open() ||
        !socket.Connect(ip.s_addr, static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "polycom_send: cannot send to %s:%d\n", to.c_str(), port);
        return 1;
    }
    const uint32_t rate = g722 ? 16000 : 8000;
    const size_t frameSamples = rate / 50;
    const auto frames = static_cast<size_t>(seconds * 50);
    std::vector<int16_t> pcm(frameSamples);
    uint8_t frame[polycom::kFrameBytes];
    uint8_t packet[polycom::kMaxPacketBytes];
    G722Encoder encoder;
    PolycomSession session;
    session.Start(sender, g722 ? polycom::Codec::kG722 : polycom::Codec::kMulaw,
                  platform::MonotonicNowNs());
    size_t sent = 0;
    size_t taken = 0;
    while (session.CurrentPhase() != PolycomSession::Phase::kDone) {
        platform::SleepUntilNs(session.DueNs());
        const uint8_t* next = nullptr;
        if (session.WantsFrame() && taken < frames) {
            for (size_t i = 0; i < frameSamples; ++i) {
                const double n = static_cast<double>(taken * frameSamples + i);
                pcm[i] =
                    static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * tone * n / rate)));
            }
            if (g722) {
                encoder.Encode(pcm.data(), pcm.size(), frame);
            } else {
                G711EncodeMulaw(pcm.data(), frame, pcm.size());
            }
            next = frame;
            ++taken;
        }
        const size_t length =
            session.Step(platform::MonotonicNowNs(), next, taken >= frames, packet);
        if (length > 0 && socket.Send(packet, length) == static_cast<int>(length)) {
            ++sent;
        }
    }
    std::printf("polycom_send: %zu packets, %zu frames of %s to %s:%d\n", sent, taken,
                g722 ? "G.722" : "mu-law", to.c_str(), port);
    return 0;
}

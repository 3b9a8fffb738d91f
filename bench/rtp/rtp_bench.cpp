// Cost of one RTP send and of a 100-destination fan-out of a 20 ms G.711 packet, next to
// bare sendto calls of the same datagram size in the same run. Everything goes to a UDP
// socket bound on 127.0.0.1 that the bench drains between timed batches.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "engine/rtpprocessor.h"

namespace {

constexpr int kPayloadBytes = 160;  // 20 ms at 8000 Hz, one byte per sample
constexpr int kFanOut = 100;
constexpr int kRounds = 15;

class Sink {
public:
    Sink() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = 8 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Sink() { ::close(m_fd); }
    uint16_t Port() const { return m_port; }
    long Drain() {
        long count = 0;
        uint8_t scratch[2048];
        while (::recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
            ++count;
        }
        return count;
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// Median nanoseconds per unit over kRounds rounds of `units` units each; the sink is drained
// outside the timed part so that its queue never overflows.
double MedianNs(Sink& sink, int units, const std::function<void()>& unit) {
    std::vector<double> perUnit;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < units; ++i) {
            unit();
        }
        const auto stop = std::chrono::steady_clock::now();
        sink.Drain();
        perUnit.push_back(std::chrono::duration<double, std::nano>(stop - start).count() / units);
    }
    std::nth_element(perUnit.begin(), perUnit.begin() + kRounds / 2, perUnit.end());
    return perUnit[kRounds / 2];
}

}  // namespace

int main() {
    Sink sink;
    const uint32_t ip = htonl(INADDR_LOOPBACK);
    const uint16_t port = sink.Port();
    std::array<uint8_t, kPayloadBytes> payload{};
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i);
    }

    // Bare sendto of a 172-byte datagram from one socket.
    const int raw = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    std::array<uint8_t, kPayloadBytes + RtpProcessor::kHeaderBytes> datagram{};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip;
    const double bare = MedianNs(sink, 1000, [&] {
        ::sendto(raw, datagram.data(), datagram.size(), 0,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    });

    RtpProcessor single;
    single.SendPacket(payload.data(), kPayloadBytes, ip, port, 0);  // opens the socket
    const double one = MedianNs(
        sink, 1000, [&] { single.SendPacket(payload.data(), kPayloadBytes, ip, port, 0); });

    auto senders = std::make_unique<std::array<RtpProcessor, kFanOut>>();
    for (int i = 0; i < kFanOut; ++i) {
        (*senders)[static_cast<size_t>(i)].SetSsrc(static_cast<uint32_t>((i + 5) * (i + 5)));
        (*senders)[static_cast<size_t>(i)].SendPacket(payload.data(), kPayloadBytes, ip, port, 0);
    }
    sink.Drain();
    const double fanOut = MedianNs(sink, 20, [&] {
        for (RtpProcessor& sender : *senders) {
            sender.SendPacket(payload.data(), kPayloadBytes, ip, port, 0);
        }
    });
    const double bareFanOut = MedianNs(sink, 20, [&] {
        for (int i = 0; i < kFanOut; ++i) {
            ::sendto(raw, datagram.data(), datagram.size(), 0,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
    });
    ::close(raw);

    std::printf("datagram: %d-byte payload + %d-byte header to 127.0.0.1, median of %d rounds\n",
                kPayloadBytes, RtpProcessor::kHeaderBytes, kRounds);
    std::printf("bare sendto                       %9.0f ns\n", bare);
    std::printf("RtpProcessor::SendPacket          %9.0f ns  (%.2fx bare)\n", one, one / bare);
    std::printf("fan-out to %d senders             %9.1f us\n", kFanOut, fanOut / 1000.0);
    std::printf("%d bare sendto calls              %9.1f us  (fan-out %.2fx)\n", kFanOut,
                bareFanOut / 1000.0, fanOut / bareFanOut);
    std::printf("fan-out share of a 20 ms tick     %9.2f %%\n", fanOut / 20e6 * 100.0);
    return 0;
}

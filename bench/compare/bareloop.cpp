// The floor the streamer is measured against: a loop that sleeps to absolute deadlines on
// the monotonic clock and sends one RTP-sized datagram (12 + 160 bytes) per destination per
// tick, each on its own connected socket, marked DSCP EF. No audio, no priority, no slack
// change: what any sender pays at the least.
//
// Usage: bare_loop SECONDS FIRST_PORT COUNT [PTIME_MS]   (destinations 127.0.0.1:FIRST_PORT..)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bare_loop SECONDS FIRST_PORT COUNT [PTIME_MS]\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const int firstPort = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const long ptimeMs = argc > 4 ? std::atol(argv[4]) : 20;
    if (seconds <= 0 || firstPort <= 0 || count <= 0 || firstPort + count > 65536 || ptimeMs <= 0) {
        std::fprintf(stderr, "bare_loop: bad arguments\n");
        return 2;
    }
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int tos = 46 << 2;
        setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(firstPort + i));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // 127.0.0.1 only
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            std::perror("bare_loop: socket");
            return 1;
        }
        sockets.push_back(fd);
    }
    unsigned char packet[12 + 160] = {0x80, 0x00};
    const long ticks = static_cast<long>(seconds * 1000.0 / static_cast<double>(ptimeMs));
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (long t = 0; t < ticks; ++t) {
        next.tv_nsec += ptimeMs * 1000000L;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
        packet[2] = static_cast<unsigned char>(t >> 8);
        packet[3] = static_cast<unsigned char>(t);
        for (int fd : sockets) {
            send(fd, packet, sizeof packet, 0);
        }
    }
    for (int fd : sockets) {
        close(fd);
    }
    return 0;
}

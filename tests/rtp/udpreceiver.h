#pragma once
// A UDP socket bound to an ephemeral port on 127.0.0.1 that tests read datagrams from.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

class UdpReceiver {
public:
    UdpReceiver() {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;
    ~UdpReceiver() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    bool Ok() const { return m_port != 0; }
    uint16_t Port() const { return m_port; }
    static uint32_t LoopbackIp() { return htonl(INADDR_LOOPBACK); }

    // The next datagram, or nothing when none arrives within timeoutMs.
    std::optional<std::vector<uint8_t>> Receive(int timeoutMs = 2000) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        std::vector<uint8_t> datagram(65536);
        const ssize_t got = ::recv(m_fd, datagram.data(), datagram.size(), 0);
        if (got < 0) {
            return std::nullopt;
        }
        datagram.resize(static_cast<size_t>(got));
        return datagram;
    }

    // Discards whatever is queued.
    void Drain() {
        uint8_t scratch[65536];
        while (::recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
        }
    }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// Open file descriptors of this process, to see sockets being closed.
inline int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

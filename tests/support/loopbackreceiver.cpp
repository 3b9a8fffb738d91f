#include "loopbackreceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {
// Larger than any UDP datagram.
constexpr size_t kMaxDatagram = 65536;
}  // namespace

LoopbackReceiver::LoopbackReceiver(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        return;
    }
    int bufferBytes = 4 << 20;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        socklen_t length = sizeof address;
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
}

LoopbackReceiver::~LoopbackReceiver() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

uint32_t LoopbackReceiver::LoopbackIp() {
    return htonl(INADDR_LOOPBACK);
}

std::optional<std::vector<uint8_t>> LoopbackReceiver::Receive(int timeoutMs) {
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) != 1) {
        return std::nullopt;
    }
    std::vector<uint8_t> datagram(kMaxDatagram);
    const ssize_t got = ::recv(m_fd, datagram.data(), datagram.size(), 0);
    if (got < 0) {
        return std::nullopt;
    }
    datagram.resize(static_cast<size_t>(got));
    return datagram;
}

std::vector<std::vector<uint8_t>> LoopbackReceiver::TakeAll() {
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<uint8_t> buffer(kMaxDatagram);
    for (;;) {
        const ssize_t got = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0) {
            break;
        }
        datagrams.emplace_back(buffer.begin(), buffer.begin() + got);
    }
    return datagrams;
}

void LoopbackReceiver::Drain() {
    uint8_t scratch[kMaxDatagram];
    while (::recv(m_fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
}

}  // namespace testsupport

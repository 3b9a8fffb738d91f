#include "platform/udpsocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace platform {

UdpSocket::~UdpSocket() {
    Close();
}

bool UdpSocket::Open() {
    if (m_fd >= 0) {
        return true;
    }
    // Non-blocking so that a full send queue drops the datagram instead of stalling the
    // worker's tick; close-on-exec so that no child process inherits it.
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return m_fd >= 0;
}

int UdpSocket::SendTo(const void* data, size_t length, uint32_t ip, uint16_t port) {
    if (m_fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip;  // already in network byte order
    ssize_t sent;
    do {
        sent = ::sendto(m_fd, data, length, MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

void UdpSocket::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace platform

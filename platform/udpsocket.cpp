#include "platform/udpsocket.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "udpsend.h"

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
    if (m_fd < 0) {
        return false;
    }
    // A refused option leaves the datagrams unmarked or the group traffic on the default
    // route; the socket still sends.
    ApplyTos();
    ApplyMulticastTtl();
    ApplyMulticastInterface();
    return true;
}

bool UdpSocket::Connect(uint32_t ip, uint16_t port) {
    m_connected = false;
    if (m_fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = ip;  // already in network byte order
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    // An error the previous destination left pending (a refusal) must not fail the first
    // send to this one: reading SO_ERROR clears it.
    int pending = 0;
    socklen_t size = sizeof pending;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &pending, &size);
    m_connected = true;
    m_ip = ip;
    m_port = port;
    return true;
}

bool UdpSocket::Bind(uint16_t port) {
    if (m_fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

namespace {

sockaddr_in LocalName(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        return sockaddr_in{};
    }
    return address;
}

}  // namespace

uint16_t UdpSocket::LocalPort() const {
    return ntohs(LocalName(m_fd).sin_port);
}

uint32_t UdpSocket::LocalAddress() const {
    return LocalName(m_fd).sin_addr.s_addr;
}

int UdpSocket::Send(const void* data, size_t length) {
    return Send(data, length, nullptr, 0);
}

int UdpSocket::Send(const void* head, size_t headLength, const void* body, size_t bodyLength) {
    if (m_fd < 0 || !m_connected) {
        return -1;
    }
    iovec pieces[2] = {{const_cast<void*>(head), headLength},
                       {const_cast<void*>(body), bodyLength}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = bodyLength > 0 ? 2 : 1;
    int sent = SendConnected(m_fd, message);
    if (sent < 0 && MayBeEarlierDatagramsError(-sent)) {
        sent = SendConnected(m_fd, message);
    }
    return sent < 0 ? -1 : sent;
}

void UdpSocket::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_connected = false;
}

bool UdpSocket::SetTos(int tos) {
    m_tos = tos;
    return m_fd < 0 || ApplyTos();
}

bool UdpSocket::SetMulticastTtl(int ttl) {
    m_multicastTtl = ttl;
    return m_fd < 0 || ApplyMulticastTtl();
}

bool UdpSocket::SetMulticastInterface(const std::string& name) {
    m_multicastInterface = name;
    return m_fd < 0 || ApplyMulticastInterface();
}

bool UdpSocket::ApplyTos() const {
    return ::setsockopt(m_fd, IPPROTO_IP, IP_TOS, &m_tos, sizeof m_tos) == 0;
}

bool UdpSocket::ApplyMulticastTtl() const {
    return ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &m_multicastTtl,
                        sizeof m_multicastTtl) == 0;
}

bool UdpSocket::ApplyMulticastInterface() const {
    // By interface index rather than SO_BINDTODEVICE, which needs CAP_NET_RAW; index 0 hands
    // the choice back to the routing table.
    ip_mreqn request{};
    if (!m_multicastInterface.empty()) {
        const unsigned index = if_nametoindex(m_multicastInterface.c_str());
        if (index == 0) {
            return false;
        }
        request.imr_ifindex = static_cast<int>(index);
    }
    return ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &request, sizeof request) == 0;
}

}  // namespace platform

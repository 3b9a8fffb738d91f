#pragma once
// One datagram on a connected UDP socket, shared by UdpSocket and the batch's loop, and which
// failures are sent again.

#include <sys/socket.h>

#include <cerrno>

namespace platform {

// The bytes sent, or minus the errno (as io_uring reports it).
inline int SendConnected(int fd, const msghdr& message) {
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -errno : static_cast<int>(sent);
}

// An ICMP error answering an earlier datagram (a closed port's "port unreachable", an
// unknown host, a parameter problem) is kept on the connected socket and reported by the
// next send, which sends nothing: that datagram is sent again, once, the report having
// cleared the error. The same errors also come from this datagram itself (no route): the
// second send then fails the same way, at the cost of one system call. A full queue
// (EAGAIN, ENOBUFS) is never an earlier datagram's.
inline bool MayBeEarlierDatagramsError(int error) {
    switch (error) {
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
        case ENONET:
        case ENOPROTOOPT:
        case EPROTO:
        case EMSGSIZE:
            return true;
        default:
            return false;
    }
}

}  // namespace platform

#include "stampedreceive.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

int OpenStampedReceiver(uint16_t port, int bufferBytes, uint16_t* bound) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        ::close(fd);
        return -1;
    }
    if (bound != nullptr) {
        *bound = ntohs(a.sin_port);
    }
    return fd;
}

ssize_t ReceiveStamped(int fd, uint8_t* data, size_t size, int flags, int64_t* arrivalNs) {
    char control[256];
    iovec io{data, size};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(fd, &msg, flags);
    *arrivalNs = 0;
    if (got < 0) {
        return got;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            *arrivalNs = int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
        }
    }
    return got;
}

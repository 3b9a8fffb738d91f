#include "pagechannel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pagechannel {
namespace {

constexpr int kBacklog = 4;
// Far above any message: a device name, a failure's text, a few numbers.
constexpr size_t kMaxMessage = 8192;

std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

// FNV-1a, 64 bits: the same in every build and process.
uint64_t Hash(const std::string& text) {
    uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return hash;
}

// The abstract address: a NUL, then the name, its length given by the size alone.
socklen_t Address(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

bool TrustedUser(uid_t uid) {
    return uid == ::geteuid() || uid == 0;
}

// The user at the other end of a connected socket; false when it cannot be told.
bool PeerUser(int fd, uid_t& uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
        return false;
    }
    uid = credentials.uid;
    return true;
}

}  // namespace

std::string SocketName(uid_t uid, const std::string& playlist) {
    const std::string prefix = "sonvex-page/" + std::to_string(uid) + "/";
    const std::string folded = Folded(playlist);
    if (prefix.size() + folded.size() < sizeof(sockaddr_un{}.sun_path)) {
        return prefix + folded;
    }
    char hash[20];
    std::snprintf(hash, sizeof hash, "#%016llx", static_cast<unsigned long long>(Hash(folded)));
    return prefix + hash;
}

void Peer::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void Peer::Reset(int fd) {
    Close();
    m_fd = fd;
}

bool Peer::Send(const nlohmann::json& message) {
    if (m_fd < 0) {
        return false;
    }
    const std::string text = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    ssize_t sent;
    do {
        sent = ::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(text.size());
}

Peer::Received Peer::Receive(nlohmann::json& message) {
    if (m_fd < 0) {
        return Received::kClosed;
    }
    std::array<char, kMaxMessage> buffer;
    ssize_t got;
    // A peer that closed with our message unread leaves ECONNRESET, told once, ahead of what
    // it sent before: a refusal, say. The next read has it.
    do {
        got = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    } while (got < 0 && (errno == EINTR || errno == ECONNRESET));
    if (got < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? Received::kNothing : Received::kClosed;
    }
    if (got == 0) {
        return Received::kClosed;  // a datagram of no bytes is never sent
    }
    message = static_cast<size_t>(got) > buffer.size()
                  ? nlohmann::json::object()
                  : nlohmann::json::parse(buffer.data(), buffer.data() + got, nullptr, false);
    if (!message.is_object()) {
        message = nlohmann::json::object();
    }
    return Received::kMessage;
}

bool Listener::Listen(const std::string& playlist, std::string& problem) {
    Close();
    const std::string name = SocketName(::geteuid(), playlist);
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t size = Address(name, address);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(m_fd, kBacklog) != 0) {
        problem =
            errno == EADDRINUSE
                ? "another process already listens for pages on the socket @" + name
                : "cannot listen for pages on the socket @" + name + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

void Listener::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool Listener::Accept(Peer& peer, bool& trusted) {
    if (m_fd < 0) {
        return false;
    }
    int fd;
    do {
        fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    peer.Reset(fd);
    uid_t uid = 0;
    trusted = PeerUser(fd, uid) && TrustedUser(uid);
    return true;
}

Connected Connect(const std::string& playlist, Peer& peer, std::string& problem) {
    const std::string name = SocketName(::geteuid(), playlist);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = std::string("cannot make a socket: ") + std::strerror(errno);
        return Connected::kFailed;
    }
    peer.Reset(fd);
    sockaddr_un address;
    const socklen_t size = Address(name, address);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), size);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        peer.Close();
        if (error == ECONNREFUSED || error == ENOENT) {
            return Connected::kNobody;
        }
        problem = error == EAGAIN ? "the stream listening on @" + name + " does not answer"
                                  : "cannot reach @" + name + ": " + std::strerror(error);
        return Connected::kFailed;
    }
    uid_t uid = 0;
    if (!PeerUser(fd, uid) || !TrustedUser(uid)) {
        peer.Close();
        problem = "the socket @" + name + " is held by another user (" + std::to_string(uid) + ")";
        return Connected::kStranger;
    }
    return Connected::kConnected;
}

}  // namespace pagechannel

#include "pagechannel.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// The address of a socket file; the caller has checked that the path fits.
socklen_t Address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

// A folder that is there (made when missing) and that only this user may enter: one of its
// own that others could enter is closed to them first; another user's is refused.
std::string PrivateFolder(const std::string& path, std::string& problem) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        problem =
            "cannot make the folder " + path + " for the page sockets: " + std::strerror(errno);
        return {};
    }
    // Opened without following a link, so that what is checked is what is used.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        problem = "the page sockets' folder " + path + " is not a folder";
        if (fd >= 0) {
            ::close(fd);
        }
        return {};
    }
    const bool mine = st.st_uid == ::geteuid();
    const bool closed = mine && ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    if (!closed) {
        problem = "the page sockets' folder " + path +
                  (mine ? " cannot be closed to other users" : " belongs to another user");
        return {};
    }
    return path;
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

std::string SocketFolder(std::string& problem) {
    // The first folder of a service's list; a user's runtime folder; /tmp as the last resort,
    // in a folder of the user's own.
    if (const char* service = std::getenv("RUNTIME_DIRECTORY"); service != nullptr && *service) {
        const std::string list = service;
        return PrivateFolder(list.substr(0, list.find(':')) + "/page", problem);
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime) {
        return PrivateFolder(std::string(runtime) + "/sonvex", problem);
    }
    return PrivateFolder("/tmp/sonvex-" + std::to_string(::geteuid()), problem);
}

std::string ControlPath(const std::string& folder) {
    const std::string path = folder + "/control";
    return path.size() < sizeof(sockaddr_un{}.sun_path) ? path : std::string();
}

std::string SocketPath(const std::string& folder, const std::string& playlist) {
    constexpr size_t kRoom = sizeof(sockaddr_un{}.sun_path);  // the path and its NUL
    const std::string prefix = folder + "/page-";
    const std::string folded = Folded(playlist);
    if (prefix.size() + folded.size() < kRoom && folded.find('\0') == std::string::npos &&
        folded.find('/') == std::string::npos) {
        return prefix + folded;
    }
    char hash[20];
    std::snprintf(hash, sizeof hash, "#%016llx", static_cast<unsigned long long>(Hash(folded)));
    return prefix.size() + 17 < kRoom ? prefix + hash : std::string();
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

namespace {

// Whether a stream listens on the socket file now.
bool SomeoneListens(const sockaddr_un& address, socklen_t size) {
    const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return true;  // cannot tell: leave the file alone
    }
    const bool answered =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), size) == 0 || errno == EAGAIN;
    ::close(probe);
    return answered;
}

}  // namespace

bool Listener::Listen(const std::string& playlist, std::string& problem) {
    Close();
    const std::string folder = SocketFolder(problem);
    if (folder.empty()) {
        return false;
    }
    const std::string path = SocketPath(folder, playlist);
    if (path.empty()) {
        problem = "the folder " + folder + " has too long a path for a page socket";
        return false;
    }
    return ListenAt(path, "pages", problem);
}

bool Listener::ListenAt(const std::string& path, const std::string& what, std::string& problem) {
    Close();
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address;
    const socklen_t size = Address(path, address);
    auto bound = [&] {
        return ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), size) == 0;
    };
    bool ok = m_fd >= 0 && bound();
    // A socket file nobody listens on was left by a stream that died.
    if (!ok && m_fd >= 0 && errno == EADDRINUSE && !SomeoneListens(address, size)) {
        ::unlink(path.c_str());
        ok = bound();
    }
    struct stat st {};
    if (!ok || ::listen(m_fd, kBacklog) != 0 || ::lstat(path.c_str(), &st) != 0) {
        problem = errno == EADDRINUSE
                      ? "another process already listens for " + what + " on the socket " + path
                      : "cannot listen for " + what + " on the socket " + path + ": " +
                            std::strerror(errno);
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        return false;
    }
    m_path = path;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

void Listener::Close() {
    if (m_fd < 0) {
        return;
    }
    ::close(m_fd);
    m_fd = -1;
    // Only the file this listener made: a stream that started since may have replaced it.
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode) {
        ::unlink(m_path.c_str());
    }
    m_path.clear();
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
    const std::string folder = SocketFolder(problem);
    if (folder.empty()) {
        return Connected::kNoFolder;
    }
    const std::string path = SocketPath(folder, playlist);
    if (path.empty()) {
        return Connected::kNobody;  // no stream can listen there either
    }
    return ConnectAt(path, peer, problem);
}

Connected ConnectAt(const std::string& path, Peer& peer, std::string& problem) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = std::string("cannot make a socket: ") + std::strerror(errno);
        return Connected::kFailed;
    }
    peer.Reset(fd);
    sockaddr_un address;
    const socklen_t size = Address(path, address);
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
        problem = error == EAGAIN ? "the process listening on " + path + " does not answer"
                                  : "cannot reach " + path + ": " + std::strerror(error);
        return Connected::kFailed;
    }
    uid_t uid = 0;
    // Root reaches a service's own user too, in the folder it was pointed at: the folder's
    // owner is that user.
    struct stat folder {};
    const std::string parent = path.substr(0, path.rfind('/'));
    const bool serviceUser = ::geteuid() == 0 && ::lstat(parent.c_str(), &folder) == 0 &&
                             S_ISDIR(folder.st_mode) && (folder.st_mode & 077) == 0;
    if (!PeerUser(fd, uid) || !(TrustedUser(uid) || (serviceUser && uid == folder.st_uid))) {
        peer.Close();
        problem = "the socket " + path + " is held by another user (" + std::to_string(uid) + ")";
        return Connected::kStranger;
    }
    return Connected::kConnected;
}

}  // namespace pagechannel

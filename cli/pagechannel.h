#pragma once
// The socket through which `page` in one process takes over `stream` of the same playlist in
// another: an AF_UNIX SOCK_SEQPACKET socket per playlist, "page-<name>" (the name in lower
// case, as the store compares names; one too long for the address is replaced by "#" and a
// hash of it) in a folder only the user can enter: "sonvex" in $XDG_RUNTIME_DIR, "page" in
// a service's own runtime folder ($RUNTIME_DIRECTORY), or "/tmp/sonvex-<uid>" when neither is
// set. No other user can take the name first or connect; each side still checks the other's
// user (its own, or root). The stream listens, a page connects; each datagram is one JSON
// object. Private to the library.

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

namespace pagechannel {

// The folder the sockets live in, made (mode 0700) when missing; empty, with `problem` set,
// when it cannot be made or other users could enter it.
std::string SocketFolder(std::string& problem);
// The playlist's socket in `folder`; empty when even the hashed name does not fit an address.
std::string SocketPath(const std::string& folder, const std::string& playlist);
// The paging server's control socket in `folder` ("control": no playlist's socket is named
// so); empty when it does not fit an address.
std::string ControlPath(const std::string& folder);

// One end of a connection, closed with the object. Not blocking.
class Peer {
public:
    Peer() = default;
    explicit Peer(int fd) : m_fd(fd) {}
    ~Peer() { Close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Close();
    // Takes `fd` over, closing the one held before.
    void Reset(int fd);
    // One message, whole; false when the other end is gone.
    bool Send(const nlohmann::json& message);
    enum class Received {
        kMessage,  // `message` is the next object (an empty one for a datagram that is not)
        kNothing,  // none is waiting
        kClosed,   // the other end hung up (or the connection failed)
    };
    Received Receive(nlohmann::json& message);

private:
    int m_fd = -1;
};

// The stream's side: listens on the playlist's socket until closed.
class Listener {
public:
    Listener() = default;
    ~Listener() { Close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // False, with `problem` set, when it cannot (another process listens on it, say). A
    // socket left behind by a stream that died is replaced.
    bool Listen(const std::string& playlist, std::string& problem);
    // The same on a socket file of its own; `what` it listens for, for the problem's words.
    bool ListenAt(const std::string& path, const std::string& what, std::string& problem);
    int Fd() const { return m_fd; }
    // Stops listening and removes the socket, unless another process has replaced it.
    void Close();
    // The next waiting connection into `peer`; false when none waits. `trusted`: its user
    // is this process's own, or root.
    bool Accept(Peer& peer, bool& trusted);

private:
    int m_fd = -1;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

enum class Connected {
    kConnected,  // `peer` reaches a stream of the playlist
    kNobody,     // no stream of the playlist listens
    kStranger,   // another user holds the name; `problem` says who
    kNoFolder,   // the sockets' folder cannot be used (`problem` says why): no stream listens
    kFailed,     // `problem` says why
};
// The page's side: connects to the stream of the playlist, when one listens.
Connected Connect(const std::string& playlist, Peer& peer, std::string& problem);
// The same to the socket file at `path`.
Connected ConnectAt(const std::string& path, Peer& peer, std::string& problem);

}  // namespace pagechannel

#pragma once
// The socket through which `page` in one process takes over `stream` of the same playlist in
// another: an abstract-namespace AF_UNIX SOCK_SEQPACKET socket per user and playlist, named
// "sonvex-page/<uid>/<name>" (the name in lower case, as the store compares names; one too
// long for the address is replaced by "#" and a hash of it). The stream listens, a page
// connects; each datagram is one JSON object. Abstract names carry no permissions, so each
// side checks the other's user: its own, or root. Private to the library.

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

namespace pagechannel {

// The socket's name, without the leading NUL of the abstract namespace.
std::string SocketName(uid_t uid, const std::string& playlist);

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

    // False, with `problem` set, when it cannot (another process holds the name, say).
    bool Listen(const std::string& playlist, std::string& problem);
    int Fd() const { return m_fd; }
    void Close();
    // The next waiting connection into `peer`; false when none waits. `trusted`: its user
    // is this process's own, or root.
    bool Accept(Peer& peer, bool& trusted);

private:
    int m_fd = -1;
};

enum class Connected {
    kConnected,  // `peer` reaches a stream of the playlist
    kNobody,     // no stream of the playlist listens
    kStranger,   // another user holds the name; `problem` says who
    kFailed,     // `problem` says why
};
// The page's side: connects to the stream of the playlist, when one listens.
Connected Connect(const std::string& playlist, Peer& peer, std::string& problem);

}  // namespace pagechannel

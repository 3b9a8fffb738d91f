#pragma once
// A send-only IPv4 UDP socket for one destination at a time, closed on destruction. It is
// connected to its destination: a send then needs no route lookup, and an ICMP error from
// that destination (a closed port answers "port unreachable") reaches this socket only. The
// system reports such an error on the socket's next send, failing it with nothing sent; that
// datagram is sent again at once, so a destination with no listener loses no datagram.
// Datagrams are marked DSCP EF by default. Used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class UdpSocket {
public:
    // The IPv4 TOS byte carrying DSCP 46, Expedited Forwarding (RFC 2474, RFC 3246), the
    // class for real-time media.
    static constexpr int kTosExpeditedForwarding = 46 << 2;  // 0xB8
    static constexpr int kDefaultMulticastTtl = 1;           // the local network only

    UdpSocket() = default;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    ~UdpSocket();

    // Creates the socket and applies the options below; false on failure (sends then fail
    // until a later Open succeeds). True at once when already open.
    bool Open();
    bool IsOpen() const { return m_fd >= 0; }
    // Targets ip (network byte order) : port (host byte order). Connecting again with
    // another destination re-targets the socket. False when the socket is not open or the
    // system refuses (no route); the socket is then connected to nothing.
    bool Connect(uint32_t ip, uint16_t port);
    bool IsConnected() const { return m_connected; }
    // The descriptor, for a batch of sends (udpbatch.h); -1 when closed.
    int Fd() const { return m_fd; }
    // Binds the open socket to `port` on every local address, before it is connected;
    // false when the port is taken (the socket stays unbound: the system picks one).
    bool Bind(uint16_t port);
    // The local port (host byte order) and address (network byte order) the socket sends
    // from; 0 before it is bound or connected.
    uint16_t LocalPort() const;
    uint32_t LocalAddress() const;
    bool IsConnectedTo(uint32_t ip, uint16_t port) const {
        return m_connected && m_ip == ip && m_port == port;
    }
    // One datagram to the connected destination. Returns the bytes sent or -1. Never blocks
    // for long: the socket is non-blocking and a full send queue drops the datagram. An error
    // an earlier datagram drew (ECONNREFUSED from a closed port) does not fail this one: it is
    // sent a second time, and -1 means that this datagram itself could not go (queue full, no
    // route, too long).
    int Send(const void* data, size_t length);
    // One datagram gathered from two pieces (a header and a body), with no copy in between.
    int Send(const void* head, size_t headLength, const void* body, size_t bodyLength);
    void Close();

    // Options, kept across Close and Open and applied at once to an open socket. Each
    // returns false when the system refuses it (the setting is kept for the next Open).
    // The TOS byte of every datagram (kTosExpeditedForwarding unless changed).
    bool SetTos(int tos);
    // Hop limit of datagrams to multicast groups.
    bool SetMulticastTtl(int ttl);
    // The interface multicast datagrams leave by, by name; empty: the routing table's choice.
    // An unknown name is refused.
    bool SetMulticastInterface(const std::string& name);

private:
    bool ApplyTos() const;
    bool ApplyMulticastTtl() const;
    bool ApplyMulticastInterface() const;

    int m_fd = -1;
    bool m_connected = false;
    uint32_t m_ip = 0;
    uint16_t m_port = 0;
    int m_tos = kTosExpeditedForwarding;
    int m_multicastTtl = kDefaultMulticastTtl;
    std::string m_multicastInterface;
};

}  // namespace platform

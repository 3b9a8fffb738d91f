#pragma once
// A send-only IPv4 UDP socket, opened on first use and closed on destruction. Used by one
// thread at a time.

#include <cstddef>
#include <cstdint>

namespace platform {

class UdpSocket {
public:
    UdpSocket() = default;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    ~UdpSocket();

    // Creates the socket; false on failure (sends then fail until a later Open succeeds).
    bool Open();
    bool IsOpen() const { return m_fd >= 0; }
    // One datagram to ip (network byte order) : port (host byte order). Returns the bytes
    // sent or -1. Never blocks for long: the socket is non-blocking and a full send buffer
    // drops the datagram.
    int SendTo(const void* data, size_t length, uint32_t ip, uint16_t port);
    void Close();

private:
    int m_fd = -1;
};

}  // namespace platform

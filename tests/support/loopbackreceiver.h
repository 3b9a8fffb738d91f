#pragma once
// A UDP socket bound to an ephemeral port on 127.0.0.1 that tests read datagrams from. Its
// receive buffer is large so that a burst from the streaming worker is not dropped.

#include <cstdint>
#include <optional>
#include <vector>

namespace testsupport {

class LoopbackReceiver {
public:
    // On `port` of 127.0.0.1 (0: an ephemeral one); Ok() is false when it is taken.
    explicit LoopbackReceiver(uint16_t port = 0);
    ~LoopbackReceiver();
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    // False when the socket could not be made or bound.
    bool Ok() const { return m_port != 0; }
    uint16_t Port() const { return m_port; }
    // 127.0.0.1 in network byte order.
    static uint32_t LoopbackIp();

    // The next datagram, or nothing when none arrives within timeoutMs.
    std::optional<std::vector<uint8_t>> Receive(int timeoutMs = 2000);
    // Every datagram queued now, without waiting.
    std::vector<std::vector<uint8_t>> TakeAll();
    // Discards whatever is queued.
    void Drain();
    // The socket, for tests that read what arrives with a datagram (its TOS byte).
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

}  // namespace testsupport

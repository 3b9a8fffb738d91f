#pragma once
// A tick's datagrams, each on its own connected UdpSocket, handed to the kernel in one system
// call through io_uring where the kernel allows it; where it refuses (an old kernel, io_uring
// switched off, a seccomp filter that answers with an error) the same datagrams go out one
// send per socket, with the same results. Sized once; Add() and Submit() do not allocate.
// One thread at a time.

#include <cstddef>
#include <memory>

#include "platform/udpsocket.h"

namespace platform {

class UdpBatch {
public:
    enum class Mode { Ring, Loop };

    // Room for `capacity` datagrams a submission; `mode` Loop never tries io_uring.
    explicit UdpBatch(size_t capacity, Mode mode = Mode::Ring);
    ~UdpBatch();
    UdpBatch(const UdpBatch&) = delete;
    UdpBatch& operator=(const UdpBatch&) = delete;

    // Ring when the submissions go through io_uring.
    Mode ActiveMode() const;
    // Queues one datagram gathered from head and body (both must stay valid until Submit)
    // on `socket`; false when the batch is full. A socket that is not open or connected
    // gets -1 without a system call.
    bool Add(const UdpSocket& socket, const void* head, size_t headLength, const void* body,
             size_t bodyLength);
    // Sends what was queued, then empties the batch; returns the count queued. Result(i) is
    // then the bytes sent for the i-th Add, or -1 (queue full, no route, too long). As with
    // UdpSocket::Send, a datagram failed by an error an earlier one drew is sent again, all
    // of those in a second submission.
    size_t Submit();
    int Result(size_t index) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace platform

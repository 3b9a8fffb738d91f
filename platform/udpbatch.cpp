#include "platform/udpbatch.h"

#include <liburing.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <vector>

namespace platform {

struct UdpBatch::State {
    io_uring ring{};
    bool ringOpen = false;
    std::vector<msghdr> messages;
    std::vector<iovec> pieces;  // two per message
    std::vector<int> fds;       // -1: nothing to send, the result is -1
    std::vector<int> results;
    size_t count = 0;

    void SendLoop() {
        for (size_t i = 0; i < count; ++i) {
            if (fds[i] < 0) {
                continue;
            }
            ssize_t sent;
            do {
                sent = ::sendmsg(fds[i], &messages[i], MSG_NOSIGNAL | MSG_DONTWAIT);
            } while (sent < 0 && errno == EINTR);
            results[i] = sent < 0 ? -1 : static_cast<int>(sent);
        }
    }

    // False when the ring refused the submission; nothing was sent then.
    bool SendRing() {
        unsigned queued = 0;
        for (size_t i = 0; i < count; ++i) {
            if (fds[i] < 0) {
                continue;
            }
            io_uring_sqe* sqe = io_uring_get_sqe(&ring);
            if (sqe == nullptr) {
                return false;  // cannot happen with the ring sized to the capacity
            }
            // Non-blocking: a full send queue fails the datagram at once, as a plain send does.
            io_uring_prep_sendmsg(sqe, fds[i], &messages[i], MSG_NOSIGNAL | MSG_DONTWAIT);
            io_uring_sqe_set_data64(sqe, i);
            ++queued;
        }
        if (queued == 0) {
            return true;
        }
        int submitted;
        do {
            submitted = io_uring_submit_and_wait(&ring, queued);
        } while (submitted == -EINTR);
        if (submitted < 0) {
            // Take back what was queued so the ring starts empty next time.
            io_uring_cq_advance(&ring, io_uring_cq_ready(&ring));
            return false;
        }
        unsigned seen = 0;
        while (seen < queued) {
            io_uring_cqe* cqe = nullptr;
            if (io_uring_wait_cqe(&ring, &cqe) != 0 || cqe == nullptr) {
                break;
            }
            const uint64_t index = io_uring_cqe_get_data64(cqe);
            if (index < count) {
                results[index] = cqe->res < 0 ? -1 : cqe->res;
            }
            io_uring_cqe_seen(&ring, cqe);
            ++seen;
        }
        return true;
    }
};

UdpBatch::UdpBatch(size_t capacity, Mode mode) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    const size_t n = capacity == 0 ? 1 : capacity;
    s.messages.assign(n, msghdr{});
    s.pieces.assign(2 * n, iovec{});
    s.fds.assign(n, -1);
    s.results.assign(n, -1);
    for (size_t i = 0; i < n; ++i) {
        s.messages[i].msg_iov = &s.pieces[2 * i];
    }
    if (mode == Mode::Ring) {
        // Refused under a seccomp filter, with io_uring disabled, or on a kernel without it.
        s.ringOpen = io_uring_queue_init(static_cast<unsigned>(n), &s.ring, 0) == 0;
    }
}

UdpBatch::~UdpBatch() {
    if (m_state->ringOpen) {
        io_uring_queue_exit(&m_state->ring);
    }
}

UdpBatch::Mode UdpBatch::ActiveMode() const {
    return m_state->ringOpen ? Mode::Ring : Mode::Loop;
}

bool UdpBatch::Add(const UdpSocket& socket, const void* head, size_t headLength, const void* body,
                   size_t bodyLength) {
    State& s = *m_state;
    if (s.count == s.messages.size()) {
        return false;
    }
    const size_t i = s.count++;
    s.fds[i] = socket.IsOpen() && socket.IsConnected() ? socket.Fd() : -1;
    s.results[i] = -1;
    s.pieces[2 * i] = {const_cast<void*>(head), headLength};
    s.pieces[2 * i + 1] = {const_cast<void*>(body), bodyLength};
    s.messages[i].msg_iovlen = bodyLength > 0 ? 2 : 1;
    return true;
}

size_t UdpBatch::Submit() {
    State& s = *m_state;
    if (s.ringOpen && !s.SendRing()) {
        // The kernel took the ring but refuses its submissions: the loop from now on.
        io_uring_queue_exit(&s.ring);
        s.ringOpen = false;
    }
    if (!s.ringOpen) {
        s.SendLoop();
    }
    const size_t sent = s.count;
    s.count = 0;
    return sent;
}

int UdpBatch::Result(size_t index) const {
    return index < m_state->results.size() ? m_state->results[index] : -1;
}

}  // namespace platform

#include "platform/udpbatch.h"

#include <liburing.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <vector>

#include "udpsend.h"

namespace platform {

struct UdpBatch::State {
    io_uring ring{};
    bool ringOpen = false;
    std::vector<msghdr> messages;
    std::vector<iovec> pieces;  // two per message
    std::vector<int> fds;       // -1: nothing to send, the result is -1
    std::vector<int> results;   // the bytes sent or minus the errno
    std::vector<size_t> round;  // the slots a round sends
    size_t count = 0;

    void SendLoop(size_t slots) {
        for (size_t k = 0; k < slots; ++k) {
            const size_t i = round[k];
            results[i] = SendConnected(fds[i], messages[i]);
        }
    }

    // False when the ring refused the submission; nothing was sent then.
    bool SendRing(size_t slots) {
        for (size_t k = 0; k < slots; ++k) {
            const size_t i = round[k];
            io_uring_sqe* sqe = io_uring_get_sqe(&ring);
            if (sqe == nullptr) {
                return false;  // cannot happen with the ring sized to the capacity
            }
            // Non-blocking: a full send queue fails the datagram at once, as a plain send does.
            io_uring_prep_sendmsg(sqe, fds[i], &messages[i], MSG_NOSIGNAL | MSG_DONTWAIT);
            io_uring_sqe_set_data64(sqe, i);
        }
        const auto queued = static_cast<unsigned>(slots);
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
                results[index] = cqe->res;
            }
            io_uring_cqe_seen(&ring, cqe);
            ++seen;
        }
        return true;
    }

    // Sends the first `slots` of the round, through the ring while the kernel takes it.
    void Send(size_t slots) {
        if (slots == 0) {
            return;
        }
        if (ringOpen && !SendRing(slots)) {
            // The kernel took the ring but refuses its submissions: the loop from now on.
            io_uring_queue_exit(&ring);
            ringOpen = false;
        }
        if (!ringOpen) {
            SendLoop(slots);
        }
    }

    // Keeps in the round the slots whose send may have failed on an earlier datagram's error
    // only (see udpsend.h); returns their count.
    size_t KeepRetries(size_t slots) {
        size_t kept = 0;
        for (size_t k = 0; k < slots; ++k) {
            const size_t i = round[k];
            if (results[i] < 0 && MayBeEarlierDatagramsError(-results[i])) {
                round[kept++] = i;
            }
        }
        return kept;
    }
};

UdpBatch::UdpBatch(size_t capacity, Mode mode) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    const size_t n = capacity == 0 ? 1 : capacity;
    s.messages.assign(n, msghdr{});
    s.pieces.assign(2 * n, iovec{});
    s.fds.assign(n, -1);
    s.results.assign(n, -1);
    s.round.assign(n, 0);
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
    size_t slots = 0;
    for (size_t i = 0; i < s.count; ++i) {
        if (s.fds[i] >= 0) {
            s.round[slots++] = i;
        }
    }
    s.Send(slots);
    // A second round, in one submission again, for the datagrams an earlier one's error took.
    s.Send(s.KeepRetries(slots));
    const size_t sent = s.count;
    s.count = 0;
    return sent;
}

int UdpBatch::Result(size_t index) const {
    const std::vector<int>& results = m_state->results;
    return index < results.size() && results[index] >= 0 ? results[index] : -1;
}

}  // namespace platform

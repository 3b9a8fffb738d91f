#include "statuspipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// A report travels as its bytes: both ends are in this process. Far below PIPE_BUF, so
// every write is whole.
constexpr size_t kRecordBytes = sizeof(StreamingStatus);

}  // namespace

StatusPipe::StatusPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_read = ends[0];
        m_write = ends[1];
    }
}

StatusPipe::~StatusPipe() {
    if (m_read >= 0) {
        ::close(m_read);
        ::close(m_write);
    }
}

void StatusPipe::OnStreamingStatus(const StreamingStatus& status) {
    unsigned char record[kRecordBytes];
    std::memcpy(record, &status, sizeof record);
    ssize_t written;
    do {
        written = ::write(m_write, record, sizeof record);
    } while (written < 0 && errno == EINTR);
}

bool StatusPipe::Next(StreamingStatus& status, int wake, int timeoutMs) {
    pollfd other = {wake, POLLIN, 0};
    return Next(status, &other, 1, timeoutMs);
}

bool StatusPipe::Next(StreamingStatus& status, pollfd* others, size_t count, int timeoutMs) {
    count = std::min(count, kMaxOthers);
    pollfd fds[1 + kMaxOthers] = {{m_read, POLLIN, 0}};
    std::copy(others, others + count, fds + 1);
    const int ready = ::poll(fds, 1 + count, timeoutMs);
    for (size_t i = 0; i < count; ++i) {
        others[i].revents = ready > 0 ? fds[1 + i].revents : 0;
    }
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) {
        return false;  // time up, a signal, or another descriptor
    }
    unsigned char record[kRecordBytes];
    if (::read(m_read, record, sizeof record) != static_cast<ssize_t>(sizeof record)) {
        return false;
    }
    std::memcpy(&status, record, sizeof status);
    return true;
}

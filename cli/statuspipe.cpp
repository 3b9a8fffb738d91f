#include "statuspipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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
    pollfd fds[2] = {{m_read, POLLIN, 0}, {wake, POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready <= 0 || (fds[0].revents & POLLIN) == 0) {
        return false;  // time up, a signal, or the wake-up
    }
    unsigned char record[kRecordBytes];
    if (::read(m_read, record, sizeof record) != static_cast<ssize_t>(sizeof record)) {
        return false;
    }
    std::memcpy(&status, record, sizeof status);
    return true;
}

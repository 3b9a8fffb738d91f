#include "platform/bytesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace platform {

std::unique_ptr<FileByteSource> FileByteSource::Open(const char* path, std::string& error) {
    if (path == nullptr || path[0] == '\0') {
        error = "no file named";
        return nullptr;
    }
    // A FIFO or a device would block the open (a FIFO until a writer comes) or each read:
    // anything but a regular file is refused before it is opened, and the open itself does
    // not wait, in case the path was replaced in between.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file";
        return nullptr;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        error = "not a regular file";
        return nullptr;
    }
    return std::unique_ptr<FileByteSource>(new FileByteSource(fd));
}

FileByteSource::~FileByteSource() {
    ::close(m_fd);
}

int64_t FileByteSource::Read(void* buffer, size_t count) {
    if (buffer == nullptr && count > 0) {
        return -1;
    }
    count = std::min<size_t>(count, INT_MAX);
    ssize_t n;
    do {
        n = ::pread(m_fd, buffer, count, static_cast<off_t>(m_position));
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_position += static_cast<uint64_t>(n);
    }
    return n;
}

bool FileByteSource::Seek(uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    m_position = offset;
    return true;
}

int64_t FileByteSource::Size() const {
    struct stat st {};
    return ::fstat(m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int64_t MemoryByteSource::Read(void* buffer, size_t count) {
    if (buffer == nullptr && count > 0) {
        return -1;
    }
    const size_t n = m_position >= m_size ? 0 : std::min<size_t>(count, m_size - m_position);
    if (n > 0) {
        std::memcpy(buffer, m_data + m_position, n);
        m_position += n;
    }
    return static_cast<int64_t>(n);
}

bool MemoryByteSource::Seek(uint64_t offset) {
    m_position = offset;
    return true;
}

}  // namespace platform

#include "platform/lowio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace platform {

namespace {

// Offsets are carried in 32-bit signed values by the callers; refuse anything larger.
constexpr off_t kMaxFileBytes = static_cast<off_t>(INT32_MAX);

bool ValidHandle(int fd) {
    return fd > 0;
}

}  // namespace

int _open(const char* path, int flags, int permission) {
    if (path == nullptr || path[0] == '\0') {
        return -1;
    }
    int posixFlags = O_CLOEXEC;
    posixFlags |= (flags & kO_RDWR) ? O_RDWR : O_RDONLY;
    if (flags & kO_CREAT) {
        posixFlags |= O_CREAT;
    }
    if (flags & kO_TRUNC) {
        posixFlags |= O_TRUNC;
    }
    mode_t mode = 0;
    if (permission & kS_IREAD) {
        mode |= S_IRUSR | S_IRGRP | S_IROTH;
    }
    if (permission & kS_IWRITE) {
        mode |= S_IWUSR;
    }
    // A FIFO or a device would block the open (a FIFO until a writer comes) or each read:
    // anything but a regular file is refused before it is opened, and the open itself does
    // not wait, in case the path was replaced in between.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, posixFlags | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileBytes ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    if (fd == 0) {
        // Descriptor 0 reads as "not open" to the callers: move it out of the way.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
        ::close(fd);
        fd = moved;
    }
    return fd;
}

namespace {

// One read or write of at most INT_MAX bytes (the count must fit the int result), retried
// when a signal interrupts it; -1 for a bad handle or a null buffer with bytes to move.
template <typename Buffer, typename Transfer>
int TransferOnce(int fd, Buffer buffer, unsigned int count, Transfer transfer) {
    if (!ValidHandle(fd) || (buffer == nullptr && count > 0)) {
        return -1;
    }
    if (count > static_cast<unsigned int>(INT_MAX)) {
        count = INT_MAX;
    }
    ssize_t n;
    do {
        n = transfer(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

}  // namespace

int _read(int fd, void* buffer, unsigned int count) {
    return TransferOnce(fd, buffer, count, ::read);
}

int _write(int fd, const void* buffer, unsigned int count) {
    return TransferOnce(fd, buffer, count, ::write);
}

long _lseek(int fd, long offset, int origin) {
    if (!ValidHandle(fd)) {
        return -1;
    }
    int whence = SEEK_SET;
    if (origin == kSeekCur) {
        whence = SEEK_CUR;
    } else if (origin == kSeekEnd) {
        whence = SEEK_END;
    }
    const off_t pos = ::lseek(fd, static_cast<off_t>(offset), whence);
    return pos < 0 ? -1 : static_cast<long>(pos);
}

long _tell(int fd) {
    return _lseek(fd, 0, kSeekCur);
}

long _filelength(int fd) {
    if (!ValidHandle(fd)) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return -1;
    }
    return static_cast<long>(st.st_size);
}

int _eof(int fd) {
    const long pos = _tell(fd);
    const long len = _filelength(fd);
    if (pos < 0 || len < 0) {
        return -1;
    }
    return pos >= len ? 1 : 0;
}

int _close(int fd) {
    if (!ValidHandle(fd)) {
        return -1;
    }
    return ::close(fd) == 0 ? 0 : -1;
}

}  // namespace platform

#include "platform/outputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

namespace platform {

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kNameAttempts = 16;

}  // namespace

bool OutputFile::Fail() {
    m_error = std::strerror(errno);
    return false;
}

bool OutputFile::Create(const char* path) {
    if (IsOpen() || path == nullptr || path[0] == '\0') {
        m_error = IsOpen() ? "a file is already open" : "no file named";
        return false;
    }
    m_target = path;
    const size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    // Hidden, beside the target (a rename within one file system is atomic); the mode is the
    // one a plain create would give, after the umask.
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
        m_temporary = folder + "." + name + suffix + ".part";
        m_fd = ::open(m_temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_spoiled = false;
            m_error.clear();
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    m_temporary.clear();
    return Fail();
}

bool OutputFile::Write(const void* buffer, size_t count) {
    if (!IsOpen() || (buffer == nullptr && count > 0)) {
        m_spoiled = true;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(m_fd, bytes, count > INT_MAX ? INT_MAX : count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            m_spoiled = true;
            return Fail();
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool OutputFile::Seek(uint64_t offset) {
    return IsOpen() && offset <= static_cast<uint64_t>(INT64_MAX) &&
           ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

int64_t OutputFile::Tell() const {
    return IsOpen() ? static_cast<int64_t>(::lseek(m_fd, 0, SEEK_CUR)) : -1;
}

int64_t OutputFile::Size() const {
    struct stat st {};
    return IsOpen() && ::fstat(m_fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool OutputFile::Commit() {
    if (!IsOpen()) {
        return false;
    }
    // Data on disk before the name points at it: a crash never leaves an empty target.
    bool ok = !m_spoiled && (::fsync(m_fd) == 0 || Fail());
    ok = (::close(m_fd) == 0 || Fail()) && ok;
    m_fd = -1;
    ok = ok && (::rename(m_temporary.c_str(), m_target.c_str()) == 0 || Fail());
    if (!ok) {
        ::unlink(m_temporary.c_str());
    }
    m_temporary.clear();
    return ok;
}

void OutputFile::Abandon() {
    if (!IsOpen()) {
        return;
    }
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

}  // namespace platform

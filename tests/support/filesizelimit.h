#pragma once
// Stands in for a full disk: while one lives, no file of this process may grow past `bytes`
// (RLIMIT_FSIZE; the write fails with EFBIG instead of raising SIGXFSZ). Any user may lower
// its own limit and raise it back.

#include <sys/resource.h>

#include <csignal>
#include <cstdint>

namespace testsupport {

class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes) {
        m_ok = ::getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        m_ok = m_ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active() const { return m_ok; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_ok = false;
};

}  // namespace testsupport

#include "readonlyfiles.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <utility>

namespace testsupport {

ReadOnlyFiles::ReadOnlyFiles(std::vector<std::filesystem::path> paths) : m_paths(std::move(paths)) {
    m_active = Set(true);
    if (!m_active) {
        Set(false);
    }
}

bool ReadOnlyFiles::Set(bool readOnly) {
    namespace fs = std::filesystem;
    bool all = true;
    for (const fs::path& path : m_paths) {
        if (::geteuid() != 0) {
            std::error_code ec;
            fs::permissions(path, fs::perms::owner_write,
                            readOnly ? fs::perm_options::remove : fs::perm_options::add, ec);
            all = all && !ec;
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) {
            ::close(fd);
        }
        all = all && ok;
    }
    return all;
}

}  // namespace testsupport

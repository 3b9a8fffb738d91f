#include "platform/splitpath.h"

#include <cstring>

namespace platform {

SplitPathResult _splitpath(const char* path) {
    SplitPathResult r;
    if (path == nullptr) {
        return r;
    }
    const std::string s(path);
    const size_t slash = s.find_last_of(kPathSeparator);
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    r.dir = s.substr(0, nameStart);
    const std::string name = s.substr(nameStart);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        r.fname = name;
    } else {
        r.fname = name.substr(0, dot);
        r.ext = name.substr(dot);
    }
    return r;
}

}  // namespace platform

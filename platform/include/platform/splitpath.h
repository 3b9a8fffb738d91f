#pragma once
// Splits a path into drive, directory, base name and extension. There are no drive letters
// here, so the drive is always empty. The directory keeps its trailing separator, the
// extension keeps its leading dot (the last dot of the final component), and the base name
// is what lies between. "/music/a.b.mp3" -> "", "/music/", "a.b", ".mp3".

#include <string>

namespace platform {

constexpr char kPathSeparator = '/';

struct SplitPathResult {
    std::string drive;
    std::string dir;
    std::string fname;
    std::string ext;
};

SplitPathResult _splitpath(const char* path);

}  // namespace platform

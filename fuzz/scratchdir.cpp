#include "scratchdir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <stdlib.h>

namespace {

struct ScratchFolder {
    std::string path;
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

}  // namespace

const std::string& ScratchDir(const char* prefix) {
    static const ScratchFolder dir{[prefix] {
        const std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) {
            std::abort();
        }
        return std::string(buf.data());
    }()};
    return dir.path;
}

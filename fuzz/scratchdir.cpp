#include "scratchdir.h"

#include <cstdio>
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

void WriteScratchFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size)) {
        std::abort();
    }
    std::fclose(f);
}

#include "tempdir.h"

#include <stdlib.h>

namespace testsupport {

TempDir::TempDir() {
    std::error_code ec;
    std::string pattern =
        (std::filesystem::temp_directory_path(ec) / "sonvex-test-XXXXXX").string();
    if (!ec && ::mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
}

}  // namespace testsupport

#pragma once
// Makes files and folders unwritable for this process while the object lives, the superuser
// included: the immutable attribute for the superuser (whom permission bits do not stop),
// permission bits for anyone else. Active() is false when the file system offers neither.

#include <filesystem>
#include <vector>

namespace testsupport {

class ReadOnlyFiles {
public:
    explicit ReadOnlyFiles(std::vector<std::filesystem::path> paths);
    ~ReadOnlyFiles() { Set(false); }
    ReadOnlyFiles(const ReadOnlyFiles&) = delete;
    ReadOnlyFiles& operator=(const ReadOnlyFiles&) = delete;

    bool Active() const { return m_active; }

private:
    bool Set(bool readOnly);

    std::vector<std::filesystem::path> m_paths;
    bool m_active = false;
};

}  // namespace testsupport

#pragma once
// A file written under a temporary name in its target's folder and renamed onto the target
// only when it is complete, so that the target name never holds a partial file: a failed or
// abandoned write leaves an earlier file of that name as it was. One thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { Abandon(); }

    // Creates the temporary file beside `path`; false, with Error() saying why, when the
    // folder refuses it or a file is already open.
    bool Create(const char* path);
    // Writes all `count` bytes at the position; false when any could not be written (a full
    // disk). A failed write spoils the file: Commit will refuse it.
    bool Write(const void* buffer, size_t count);
    bool Seek(uint64_t offset);
    // Position and length; -1 when not open.
    int64_t Tell() const;
    int64_t Size() const;
    // Flushes the file to disk and renames it onto the target; false, with the temporary
    // file removed, when a write failed before or any step fails now.
    bool Commit();
    // Removes the temporary file; harmless when none is open.
    void Abandon();

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& Error() const { return m_error; }

private:
    bool Fail();  // keeps errno's text; false

    int m_fd = -1;
    bool m_spoiled = false;
    std::string m_target;
    std::string m_temporary;
    std::string m_error;
};

}  // namespace platform

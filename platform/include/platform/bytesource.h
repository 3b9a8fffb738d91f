#pragma once
// Bytes for the media readers to parse: read in order, with a seek now and then, from a file
// or from a buffer in memory alike. The readers bound offsets and lengths themselves. One
// thread at a time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `count` bytes at the position and moves past them: the bytes read, 0 at the
    // end, -1 on an error.
    virtual int64_t Read(void* buffer, size_t count) = 0;
    // Moves to an absolute offset, which may lie past the end (reads there give 0); false
    // when the source cannot.
    virtual bool Seek(uint64_t offset) = 0;
    virtual uint64_t Tell() const = 0;
    // The length in bytes now (a file may change while it is read), -1 when it cannot be
    // measured.
    virtual int64_t Size() const = 0;
};

// A regular file opened for reading.
class FileByteSource final : public ByteSource {
public:
    // Null when the path cannot be opened or is not a regular file (a folder, a FIFO or a
    // device is refused without waiting on it); `error` then says why.
    static std::unique_ptr<FileByteSource> Open(const char* path, std::string& error);
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;
    ~FileByteSource() override;

    int64_t Read(void* buffer, size_t count) override;
    bool Seek(uint64_t offset) override;
    uint64_t Tell() const override { return m_position; }
    int64_t Size() const override;

private:
    explicit FileByteSource(int fd) : m_fd(fd) {}

    int m_fd;
    uint64_t m_position = 0;
};

// Bytes in memory that the caller keeps alive while the source is used.
class MemoryByteSource final : public ByteSource {
public:
    MemoryByteSource(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    int64_t Read(void* buffer, size_t count) override;
    bool Seek(uint64_t offset) override;
    uint64_t Tell() const override { return m_position; }
    int64_t Size() const override { return static_cast<int64_t>(m_size); }

private:
    const uint8_t* m_data;
    size_t m_size;
    uint64_t m_position = 0;
};

}  // namespace platform

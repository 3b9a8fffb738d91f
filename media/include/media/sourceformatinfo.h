#pragma once
// The description of a source file that opening it yields, embedded in every playlist entry:
// the path (filled by the caller), the length, the bytes read per step and an owned copy of
// the source format block. Copies are deep. Used on the UI thread and, as the engine's
// private copy, on the streaming worker.

#include <cstdint>
#include <memory>

constexpr int kMaxPathChars = 260;  // fixed text fields hold 259 bytes and a NUL

struct SourceFormatInfo {
    char path[kMaxPathChars] = {};
    int32_t durationSeconds = 0;
    int64_t durationMs = 0;  // the exact length, when the file was opened (not stored)
    int32_t chunkBytes = 0;
    int32_t formatSize = 0;
    std::unique_ptr<uint8_t[]> format;  // formatSize bytes, or null

    SourceFormatInfo() = default;
    SourceFormatInfo(const SourceFormatInfo& other);
    SourceFormatInfo& operator=(const SourceFormatInfo& other);
    // A moved-from description keeps its path and numbers but has no block and size 0, so
    // formatSize never promises bytes that are not there.
    SourceFormatInfo(SourceFormatInfo&& other) noexcept;
    SourceFormatInfo& operator=(SourceFormatInfo&& other) noexcept;
    virtual ~SourceFormatInfo() = default;

    // Replaces the format block with a copy of `size` bytes (none when size <= 0).
    void SetFormat(const uint8_t* block, int32_t size);
    // Copies a path; returns false and leaves `path` unchanged when it does not fit.
    bool SetPath(const char* newPath);
};

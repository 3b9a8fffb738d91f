#include "media/sourceformatinfo.h"

#include <cstring>
#include <utility>

SourceFormatInfo::SourceFormatInfo(const SourceFormatInfo& other) {
    *this = other;
}

SourceFormatInfo& SourceFormatInfo::operator=(const SourceFormatInfo& other) {
    if (this == &other) {
        return *this;
    }
    std::memcpy(path, other.path, sizeof path);
    path[kMaxPathChars - 1] = '\0';
    durationSeconds = other.durationSeconds;
    durationMs = other.durationMs;
    chunkBytes = other.chunkBytes;
    SetFormat(other.format.get(), other.formatSize);
    return *this;
}

SourceFormatInfo::SourceFormatInfo(SourceFormatInfo&& other) noexcept {
    *this = std::move(other);
}

SourceFormatInfo& SourceFormatInfo::operator=(SourceFormatInfo&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    std::memcpy(path, other.path, sizeof path);
    durationSeconds = other.durationSeconds;
    durationMs = other.durationMs;
    chunkBytes = other.chunkBytes;
    format = std::move(other.format);
    formatSize = std::exchange(other.formatSize, 0);
    return *this;
}

void SourceFormatInfo::SetFormat(const uint8_t* block, int32_t size) {
    if (block == nullptr || size <= 0) {
        format.reset();
        formatSize = 0;
        return;
    }
    auto copy = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
    std::memcpy(copy.get(), block, static_cast<size_t>(size));
    format = std::move(copy);
    formatSize = size;
}

bool SourceFormatInfo::SetPath(const char* newPath) {
    const size_t len = newPath == nullptr ? 0 : std::strlen(newPath);
    if (len >= sizeof path) {
        return false;
    }
    std::memcpy(path, newPath == nullptr ? "" : newPath, len);
    path[len] = '\0';
    return true;
}

// Opens arbitrary bytes from memory as a source named .wav and as one named .mp3, reading a
// few chunks; then writes them through the WAV writer (into a scratch folder) with a format
// taken from the input and reopens the result. Any crash, leak, hang or sanitizer report is a
// finding.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media/audiosourcefile.h"
#include "platform/bytesource.h"
#include "scratchdir.h"

namespace {

// Reads up to four chunks of an opened source (the buffer capped so a huge chunk size
// costs no time), and closes.
void ReadSome(AudioSourceFile& file, const SourceFormatInfo& info, const std::string& description) {
    if (info.chunkBytes <= 0 || info.formatSize <= 0 || !info.format || description.empty()) {
        std::abort();  // a successful open always yields a usable step and format
    }
    const int step = std::min(info.chunkBytes, 1 << 16);
    std::vector<uint8_t> buffer(static_cast<size_t>(step));
    for (int i = 0; i < 4; ++i) {
        if (file.Read(buffer.data(), step) != step) {
            break;
        }
    }
    file.Close();
}

void OpenAndRead(const uint8_t* data, size_t size, const char* name) {
    AudioSourceFile file;
    SourceFormatInfo info;
    std::string description;
    if (file.Open(std::make_unique<platform::MemoryByteSource>(data, size), name, info,
                  description)) {
        ReadSome(file, info, description);
    }
}

void OpenAndRead(const std::string& path) {
    AudioSourceFile file;
    SourceFormatInfo info;
    std::string description;
    if (file.Open(path.c_str(), info, description)) {
        ReadSome(file, info, description);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OpenAndRead(data, size, "input.wav");
    OpenAndRead(data, size, "input.mp3");

    if (size >= 18) {
        uint8_t format[18];
        std::memcpy(format, data, sizeof format);
        const std::string out = ScratchDir("sonvexfuzz") + "/output.wav";
        AudioSourceFile writer;
        if (writer.Create(out.c_str(), format)) {
            writer.Write(data + 18, static_cast<int>(size - 18));
            writer.Close();
            OpenAndRead(out);
        }
    }
    return 0;
}

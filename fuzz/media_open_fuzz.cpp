// Writes arbitrary bytes to a file named .wav and one named .mp3 and opens both as sources,
// reading a few chunks; then writes them through the WAV writer with a format taken from
// the input and reopens the result. Any crash, leak, hang or sanitizer report is a finding.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/audiosourcefile.h"
#include "scratchdir.h"

namespace {

// Opens, reads up to four chunks (the buffer capped so a huge chunk size costs no time),
// and closes.
void OpenAndRead(const std::string& path) {
    AudioSourceFile file;
    SourceFormatInfo info;
    std::string description;
    if (!file.Open(path.c_str(), info, description)) {
        return;
    }
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string dir = ScratchDir("sonvexfuzz");
    const std::string wav = dir + "/input.wav";
    const std::string mp3 = dir + "/input.mp3";
    WriteScratchFile(wav, data, size);
    WriteScratchFile(mp3, data, size);
    OpenAndRead(wav);
    OpenAndRead(mp3);

    if (size >= 18) {
        uint8_t format[18];
        std::memcpy(format, data, sizeof format);
        const std::string out = dir + "/output.wav";
        AudioSourceFile writer;
        if (writer.Create(out.c_str(), format)) {
            writer.Write(data + 18, static_cast<int>(size - 18));
            writer.Close();
            OpenAndRead(out);
        }
    }
    return 0;
}

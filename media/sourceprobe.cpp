#include "media/sourceprobe.h"

#include <cstdint>

#include "codec/codecstage.h"
#include "codec/waveformat.h"
#include "media/audiosourcefile.h"

bool ProbeSourceFile(const char* path, SourceFormatInfo& info, std::string& description,
                     std::string& reason) {
    AudioSourceFile file;
    if (!file.Open(path, info, description)) {
        reason = file.RefusalReason().empty() ? "unsupported media type" : file.RefusalReason();
        return false;
    }
    file.Close();
    WAVEFORMATEX format{};
    ReadWaveFormat(info.format.get(), static_cast<size_t>(info.formatSize), format);
    uint8_t pcm[sizeof(WAVEFORMATEX)];
    WriteWaveFormat(Pcm16WaveFormat(format.nChannels, format.nSamplesPerSec), pcm);
    CodecStage decoder;
    if (!decoder.Open(info.format.get(), static_cast<uint32_t>(info.formatSize), pcm, sizeof pcm)) {
        reason = "no codec decodes format tag " + std::to_string(format.wFormatTag) + " with " +
                 std::to_string(format.nChannels) + " channel" + (format.nChannels == 1 ? "" : "s");
        return false;
    }
    return true;
}

#include "media/mediadescription.h"

#include <cstring>

#include "media/formattagcatalog.h"
#include "media/mp3framescanner.h"

namespace {

constexpr const char* kSeparator = "\r\n\r\n";

// Channel item: the two named layouts, otherwise the count, so odd files still describe.
std::string ChannelText(long channels) {
    if (channels == 1) {
        return "Mono";
    }
    if (channels == 2) {
        return "Stereo";
    }
    return std::to_string(channels) + " channels";
}

}  // namespace

void BuildWaveDescription(std::string& description, uint32_t fileLength, const WAVEFORMATEX& format,
                          int32_t durationSeconds, const char* tagName, size_t tagNameChars) {
    std::string text = "RIFF WAVE format";
    if (tagName != nullptr) {
        text += kSeparator;
        text.append(tagName, strnlen(tagName, tagNameChars));
    }
    // The product wraps in 32 bits as the format's own field does.
    const uint32_t kbps = static_cast<uint32_t>(format.nAvgBytesPerSec * 8u) / 1000u;
    text += kSeparator;
    text += "Size (in bytes) : " + std::to_string(fileLength);
    text += kSeparator;
    text += "Bitrate (kbps) : " + std::to_string(kbps);
    text += kSeparator;
    text += "Frequency (Hz) : " + std::to_string(format.nSamplesPerSec);
    text += kSeparator;
    text += ChannelText(format.nChannels);
    text += kSeparator;
    text += "Length (in sec) : " + std::to_string(durationSeconds);
    description = std::move(text);
}

void BuildWaveDescription(std::string& description, uint32_t fileLength, const WAVEFORMATEX& format,
                          int32_t durationSeconds) {
    const FormatTagCatalog catalog;
    ACMFORMATTAGDETAILSA details{};
    if (catalog.FindTag(format.wFormatTag, details)) {
        BuildWaveDescription(description, fileLength, format, durationSeconds, details.szFormatTag,
                             sizeof details.szFormatTag);
    } else {
        BuildWaveDescription(description, fileLength, format, durationSeconds, nullptr, 0);
    }
}

void BuildMp3Description(std::string& description, uint32_t fileLength, const Mp3FrameInfo& info) {
    std::string text = "Size (in bytes) : " + std::to_string(fileLength);
    text += kSeparator;
    text += "First frame at byte: " + std::to_string(info.firstFrameOffset);
    text += kSeparator;
    text += info.version == 1 ? "MPEG 1 " : info.version == 2 ? "MPEG 2 " : "MPEG 2.5 ";
    text += info.layer == 1 ? "Layer I" : info.layer == 2 ? "Layer II" : "Layer III";
    text += kSeparator;
    text += "Bitrate (kbps) : " + std::to_string(info.bitrateKbps);
    text += kSeparator;
    text += "Frequency (Hz) : " + std::to_string(info.sampleRate);
    text += kSeparator;
    text += ChannelText(info.channels);
    text += kSeparator;
    text += "Length (in sec) : " + std::to_string(info.durationSeconds);
    description = std::move(text);
}

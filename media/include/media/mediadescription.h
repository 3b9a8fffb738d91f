#pragma once
// The operator's multi-line description of an opened source. Items are separated by
// "\r\n\r\n" (an empty line in a multi-line edit box); numbers are plain decimal. Each
// builder replaces the whole text of `description`. Any thread.

#include <cstdint>
#include <string>

#include "codec/waveformat.h"

struct Mp3FrameInfo;

// "RIFF WAVE format", the catalogue's name for the tag when a driver reports it, then size,
// bit rate (1000-bit kilobits), frequency, channels and length. `tagName` null leaves the
// name item out. `tagNameChars` bounds a name that may lack its NUL.
void BuildWaveDescription(std::string& description, uint32_t fileLength, const WAVEFORMATEX& format,
                          int32_t durationSeconds, const char* tagName, size_t tagNameChars);
// As above, looking the tag up in a freshly built format-tag catalogue.
void BuildWaveDescription(std::string& description, uint32_t fileLength, const WAVEFORMATEX& format,
                          int32_t durationSeconds);
// Size, first frame offset, MPEG version and layer, bit rate, frequency, channels, length.
void BuildMp3Description(std::string& description, uint32_t fileLength, const Mp3FrameInfo& info);

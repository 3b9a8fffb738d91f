#pragma once
// Decides whether a file holds an MPEG audio stream and which frame header describes it.
// The first 100 byte positions that look like frame headers vote; the header value seen
// most often (ignoring the padding bit) wins and must occur at least 6 times. Works on a
// byte source from its current position and leaves the position anywhere (the length is read
// from the first frame and the end). Reads go through a private buffer, so the search costs one
// pass over the bytes it covers. No state survives a call; any thread, one scan per object at a
// time.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytesource.h"

struct Mp3FrameInfo {
    int32_t version = 0;  // 1 = MPEG 1, 2 = MPEG 2, 3 = MPEG 2.5
    int32_t layer = 0;    // 1 = Layer I, 2 = Layer II, 3 = Layer III
    int32_t channels = 0;
    int32_t bitrateKbps = 0;
    int32_t sampleRate = 0;  // Hz
    // The frame count's length, else the audio bytes' at the bit rate; seconds rounded.
    int64_t durationMs = 0;
    int32_t durationSeconds = 0;
    int32_t firstFrameOffset = 0;  // byte offset of the first frame of the chosen kind
};

class Mp3FrameScanner {
public:
    static constexpr int kCandidates = 100;
    static constexpr int kMinVotes = 5;  // the winner's other occurrences: 6 in all

    Mp3FrameScanner();
    virtual ~Mp3FrameScanner() = default;

    // Collects the candidates, votes, decodes the winner and writes the MP3 description into
    // `description`. False when fewer than 100 candidates precede the end of the file or no
    // value reaches 6 occurrences; `description` is then untouched and `info` may be partial.
    bool Scan(platform::ByteSource& bytes, Mp3FrameInfo& info, std::string& description);
    // Next header candidate at or after the search position: its value (bytes in file order,
    // little-endian) and its offset. False at the end of the file or on a read error. The
    // search continues 4 bytes after a found candidate. Starts at the source's position on
    // the first call after construction or Scan.
    bool FindNextHeader(platform::ByteSource& bytes, uint32_t& header, uint32_t& offset);

    // True when two header values agree in every bit but the padding bit (bit 17).
    static bool SameStream(uint32_t a, uint32_t b);
    // The header test on four bytes in file order.
    static bool IsCandidate(const uint8_t* b);
    // Decodes a header into version, layer, channels, bit rate and sample rate. False when a
    // field is reserved or the bit rate is free or invalid.
    static bool Decode(uint32_t header, Mp3FrameInfo& info);

private:
    bool Fill(platform::ByteSource& bytes);
    void Reset();

    std::vector<uint8_t> m_buffer;
    size_t m_begin = 0;           // next window to test
    size_t m_end = 0;             // valid bytes in m_buffer
    uint32_t m_bufferOffset = 0;  // file offset of m_buffer[0]
    bool m_started = false;
    bool m_exhausted = false;
};

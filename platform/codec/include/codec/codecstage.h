#pragma once
// One stage of a transcoding pipeline: a conversion stream between two format records with
// the one header prepared for it. The streaming engine and the converter build their chains
// from three of these. Open it, prepare it once with its buffers at the largest lengths it
// will be given, convert as often as needed (any source length up to the prepared one), and
// release it, which unprepares and closes; destruction releases too.
//
// The buffers belong to the caller and must outlive the preparation. One thread at a time.

#include <cstdint>

#include "codec/acm.h"

class CodecStage {
public:
    CodecStage() = default;
    CodecStage(const CodecStage&) = delete;
    CodecStage& operator=(const CodecStage&) = delete;
    ~CodecStage() { Release(); }

    // Releases what the stage held, then opens a synchronous stream; false when no codec
    // converts between the two records. live: the stream carries live audio and yields its
    // output as its input comes (ACM_STREAMOPENF_LOWLATENCY).
    bool Open(const void* srcFormat, uint32_t srcFormatBytes, const void* dstFormat,
              uint32_t dstFormatBytes, bool live = false);
    // The destination bytes that `srcBytes` source bytes can produce at most; 0 when the
    // stage is not open or cannot say.
    uint32_t DestinationBound(uint32_t srcBytes) const;
    // The source bytes needed to produce `dstBytes` destination bytes; 0 likewise.
    uint32_t SourceNeeded(uint32_t dstBytes) const;
    // Prepares the header over the caller's buffers; false when the stream refuses them.
    bool Prepare(uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes);
    // Converts the first `srcBytes` bytes of the source buffer (at most the prepared
    // length) block-aligned, with ACM_STREAMCONVERTF_END when `end` is set (the stream then
    // gives what it still holds); returns the destination bytes written. 0 when unprepared.
    uint32_t Convert(uint32_t srcBytes, bool end = false);
    // Converts the whole prepared source length.
    uint32_t Convert() { return Convert(m_header.cbSrcLength); }
    // Unprepares and closes; safe on a stage that is not open.
    void Release();

    bool IsOpen() const { return m_stream != nullptr; }
    bool IsPrepared() const { return m_prepared; }
    uint32_t SourceLength() const { return m_header.cbSrcLength; }
    uint32_t DestinationLength() const { return m_header.cbDstLength; }

private:
    uint32_t Size(uint32_t input, uint32_t flags) const;

    HACMSTREAM m_stream = nullptr;
    ACMSTREAMHEADER m_header{};
    bool m_prepared = false;
};

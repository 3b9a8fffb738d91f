#pragma once
// MPEG audio (Layers I, II and III) decoder fed raw byte chunks of any length. libavcodec's
// parser finds the frames, so a frame cut by a chunk boundary decodes when the rest arrives;
// leading ID3v2 tags and junk between frames are skipped. Output is 16-bit PCM with the
// channels and rate of the stream's format record; frames at another rate are dropped.
// When the first frame is an encoder's gapless tag frame (mp3infotag.h), that frame is not
// played and the output is trimmed as players trim it: the encoder's delay and the decoder's
// own in front, the encoder's padding behind. Streams without the tag are played whole.

#include <cstdint>
#include <vector>

#include "codecstream.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

enum class MpegDecoderKind { Fixed, Float };

class MpegDecoder final : public CodecStream {
public:
    MpegDecoder(uint16_t channels, uint32_t rate, MpegDecoderKind kind = kDefaultKind);
    ~MpegDecoder() override;
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    bool IsOpen() const { return m_ctx != nullptr && m_parser != nullptr; }

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Reserve(uint32_t srcBytes, uint32_t dstBytes) override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

    // Upper bound of the sample frames that `bytes` new bytes can complete at `rate`,
    // counting one frame held from earlier calls: the densest frames are those of the
    // lowest bit rate at the highest rate of the same MPEG version.
    static uint64_t MaxFramesFor(uint32_t bytes, uint32_t rate);

    // The decoder used when none is named (see the codec benchmark).
    static constexpr MpegDecoderKind kDefaultKind = MpegDecoderKind::Float;

private:
    void DecodePacket(const uint8_t* data, int size);
    void SkipId3(const uint8_t*& src, uint32_t& bytes);

    uint16_t m_channels;
    uint32_t m_rate;
    AVCodecContext* m_ctx = nullptr;
    AVCodecParserContext* m_parser = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    // Gapless trimming: decoded sample frames kept are those numbered [m_keepFrom,
    // m_keepUntil) counting from the first frame after the tag frame.
    bool m_firstFrame = true;
    uint64_t m_position = 0;
    uint64_t m_keepFrom = 0;
    uint64_t m_keepUntil = UINT64_MAX;
    // ID3v2 handling at the start of the stream.
    bool m_atStart = true;
    uint8_t m_head[10] = {};
    uint32_t m_headBytes = 0;
    uint64_t m_skip = 0;
    // The caller's bytes copied with the zeroed tail the parser may read past the end.
    std::vector<uint8_t> m_padded;
};

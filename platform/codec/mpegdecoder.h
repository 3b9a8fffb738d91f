#pragma once
// MPEG audio (Layers I, II and III) decoder fed raw byte chunks of any length, on libmpg123's
// feed reader: a frame cut by a chunk boundary decodes when the rest arrives; leading ID3v2
// tags and junk between frames are skipped. Output is 16-bit PCM with the channels and rate
// of the stream's format record (a stream with other channels is mixed or copied by the
// library); frames at another rate are dropped.
// When the first frame is an encoder's gapless tag frame, libmpg123 trims the output as
// players do: the encoder's delay and the decoder's own in front, the encoder's padding
// behind. Streams without the tag are played whole.

#include <cstdint>

#include "codecstream.h"

struct mpg123_handle_struct;

class MpegDecoder final : public CodecStream {
public:
    MpegDecoder(uint16_t channels, uint32_t rate);
    ~MpegDecoder() override;
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    bool IsOpen() const { return m_open; }

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

    // Upper bound of the sample frames that `bytes` new bytes can complete at `rate`,
    // counting one frame held from earlier calls: the densest frames are those of the
    // lowest bit rate at the highest rate of the same MPEG version.
    static uint64_t MaxFramesFor(uint32_t bytes, uint32_t rate);

private:
    bool OpenFeed();
    void DecodeAvailable();

    uint16_t m_channels;
    uint32_t m_rate;
    mpg123_handle_struct* m_handle = nullptr;
    bool m_open = false;
};

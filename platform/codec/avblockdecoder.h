#pragma once
// Block decoders provided by libavcodec (IMA ADPCM, GSM 6.10): one packet per block.

#include <vector>

#include "blockdecoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class AvBlockDecoder final : public BlockDecoder {
public:
    // `codecName` is the libavcodec decoder name; `bitsPerCodedSample` as the "fmt " record
    // gives it; `cutBlocks` when the decoder sizes its output by the packet, so that a block
    // cut by the end of the stream gives the frames it holds. Check IsOpen() after
    // construction.
    AvBlockDecoder(const char* codecName, uint32_t blockAlign, uint32_t framesPerBlock,
                   uint16_t channels, uint32_t rate, uint16_t bitsPerCodedSample, bool cutBlocks);
    ~AvBlockDecoder() override;
    AvBlockDecoder(const AvBlockDecoder&) = delete;
    AvBlockDecoder& operator=(const AvBlockDecoder&) = delete;

    bool IsOpen() const { return m_ctx != nullptr; }

protected:
    void DecodeBlock(const uint8_t* block) override;
    void DecodePartialBlock(const uint8_t* block, uint32_t bytes) override;
    void ResetDecoder() override;

private:
    // Sends `bytes` of a block as one packet; returns the output bytes appended.
    size_t Decode(const uint8_t* block, uint32_t bytes);

    AVCodecContext* m_ctx = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    std::vector<uint8_t> m_padded;  // one block and the zeroed tail decoders may read
    bool m_cutBlocks;
};

#include "avblockdecoder.h"

#include <cstring>

#include "avsamples.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

AvBlockDecoder::AvBlockDecoder(const char* codecName, uint32_t blockAlign, uint32_t framesPerBlock,
                               uint16_t channels, uint32_t rate, uint16_t bitsPerCodedSample,
                               bool cutBlocks)
    : BlockDecoder(blockAlign, framesPerBlock, channels),
      m_padded(size_t{blockAlign} + AV_INPUT_BUFFER_PADDING_SIZE, 0),
      m_cutBlocks(cutBlocks) {
    const AVCodec* codec = avcodec_find_decoder_by_name(codecName);
    if (codec == nullptr) {
        return;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (ctx == nullptr || m_frame == nullptr || m_packet == nullptr) {
        avcodec_free_context(&ctx);
        return;
    }
    ctx->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->block_align = static_cast<int>(blockAlign);
    ctx->bits_per_coded_sample = bitsPerCodedSample;
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return;
    }
    m_ctx = ctx;
}

AvBlockDecoder::~AvBlockDecoder() {
    avcodec_free_context(&m_ctx);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

void AvBlockDecoder::ResetDecoder() {
    if (m_ctx != nullptr) {
        avcodec_flush_buffers(m_ctx);
    }
}

void AvBlockDecoder::DecodeBlock(const uint8_t* block) {
    const size_t expected = size_t{m_framesPerBlock} * 2 * m_channels;
    const size_t produced = Decode(block, m_blockAlign);
    // A block the decoder rejects keeps its place in time as silence.
    if (produced < expected) {
        m_output.AppendZeros(expected - produced);
    }
}

void AvBlockDecoder::DecodePartialBlock(const uint8_t* block, uint32_t bytes) {
    // The other decoders (GSM 6.10) cannot decode part of a block: nothing of it is played.
    if (m_cutBlocks) {
        Decode(block, bytes);
    }
}

size_t AvBlockDecoder::Decode(const uint8_t* block, uint32_t bytes) {
    const size_t before = m_output.Size();
    if (m_ctx != nullptr) {
        std::memcpy(m_padded.data(), block, bytes);
        std::memset(m_padded.data() + bytes, 0, m_padded.size() - bytes);
        m_packet->data = m_padded.data();
        m_packet->size = static_cast<int>(bytes);
        if (avcodec_send_packet(m_ctx, m_packet) >= 0) {
            while (avcodec_receive_frame(m_ctx, m_frame) >= 0) {
                AppendFrameS16(m_frame, m_channels, m_output);
                av_frame_unref(m_frame);
            }
        }
        m_packet->data = nullptr;
        m_packet->size = 0;
    }
    return m_output.Size() - before;
}

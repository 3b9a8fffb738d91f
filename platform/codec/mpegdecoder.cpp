#include "mpegdecoder.h"

#include <algorithm>
#include <cstring>

#include "avsamples.h"
#include "mp3infotag.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

// Sample frames per MPEG frame and the smallest frame in bytes, per layer, for one rate.
struct LayerDensity {
    uint32_t samples;
    uint32_t minBytes;
};

// The smallest frame of each layer at `rate` (no padding, lowest bit rate of the version).
void Densities(uint32_t rate, LayerDensity out[3]) {
    const bool mpeg1 = rate >= 32000;
    const uint32_t r = rate == 0 ? 1 : rate;
    // Layer I: 384 samples, 4-byte slots; Layers II and III: 1152 (576 below 32 kHz for III).
    const uint32_t brI = 32000;
    const uint32_t brII = mpeg1 ? 32000 : 8000;
    const uint32_t brIII = mpeg1 ? 32000 : 8000;
    out[0] = {384, std::max<uint32_t>(4, 12 * brI / r * 4)};
    out[1] = {1152, std::max<uint32_t>(4, 144 * brII / r)};
    out[2] = mpeg1 ? LayerDensity{1152, std::max<uint32_t>(4, 144 * brIII / r)}
                   : LayerDensity{576, std::max<uint32_t>(4, 72 * brIII / r)};
}

}  // namespace

uint64_t MpegDecoder::MaxFramesFor(uint32_t bytes, uint32_t rate) {
    LayerDensity d[3];
    Densities(rate, d);
    uint64_t best = 0;
    for (const auto& l : d) {
        best = std::max<uint64_t>(best, (uint64_t{bytes} / l.minBytes + 1) * l.samples);
    }
    // The frame held back from earlier calls may complete now as well.
    return best + 1152;
}

MpegDecoder::MpegDecoder(uint16_t channels, uint32_t rate, MpegDecoderKind kind)
    : m_channels(channels), m_rate(rate) {
    m_output.SetBlock(2u * channels);
    // The Layer III decoders take Layers I and II too.
    const AVCodec* codec =
        avcodec_find_decoder_by_name(kind == MpegDecoderKind::Float ? "mp3float" : "mp3");
    if (codec == nullptr) {
        codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
    }
    if (codec == nullptr) {
        return;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    m_parser = av_parser_init(AV_CODEC_ID_MP3);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (ctx == nullptr || m_parser == nullptr || m_frame == nullptr || m_packet == nullptr) {
        avcodec_free_context(&ctx);
        return;
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return;
    }
    m_ctx = ctx;
}

MpegDecoder::~MpegDecoder() {
    avcodec_free_context(&m_ctx);
    if (m_parser != nullptr) {
        av_parser_close(m_parser);
    }
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

uint32_t MpegDecoder::DstBoundFor(uint32_t srcBytes) const {
    return SaturateU32(MaxFramesFor(srcBytes, m_rate) * 2u * m_channels);
}

uint32_t MpegDecoder::SrcNeededFor(uint32_t dstBytes) const {
    // By the densest layout the record allows: about 320 kbit/s at this rate.
    const uint64_t frames = (uint64_t{dstBytes} + 2u * m_channels - 1) / (2u * m_channels);
    const uint64_t bytes = (frames * 320000 / 8 + m_rate - 1) / m_rate;
    return SaturateU32(bytes + 1441);
}

void MpegDecoder::Reset() {
    m_output.Clear();
    m_firstFrame = true;
    m_position = 0;
    m_keepFrom = 0;
    m_keepUntil = UINT64_MAX;
    m_atStart = true;
    m_headBytes = 0;
    m_skip = 0;
    if (m_ctx != nullptr) {
        avcodec_flush_buffers(m_ctx);
    }
    if (m_parser != nullptr) {
        av_parser_close(m_parser);
        m_parser = av_parser_init(AV_CODEC_ID_MP3);
    }
}

void MpegDecoder::SkipId3(const uint8_t*& src, uint32_t& bytes) {
    if (m_skip > 0) {
        const uint64_t n = std::min<uint64_t>(m_skip, bytes);
        src += n;
        bytes -= static_cast<uint32_t>(n);
        m_skip -= n;
    }
    if (!m_atStart) {
        return;
    }
    // Gather the first 10 bytes to look for an ID3v2 header ("ID3", version, flags, and a
    // 28-bit synchsafe size).
    while (m_headBytes < 10 && bytes > 0) {
        m_head[m_headBytes++] = *src++;
        --bytes;
    }
    if (m_headBytes < 10) {
        return;
    }
    m_atStart = false;
    const bool id3 = m_head[0] == 'I' && m_head[1] == 'D' && m_head[2] == '3' &&
                     ((m_head[6] | m_head[7] | m_head[8] | m_head[9]) & 0x80) == 0;
    if (id3) {
        uint64_t size = (uint64_t{m_head[6]} << 21) | (uint64_t{m_head[7]} << 14) |
                        (uint64_t{m_head[8]} << 7) | m_head[9];
        if ((m_head[5] & 0x10) != 0) {
            size += 10;  // footer
        }
        m_skip = size;
        const uint64_t n = std::min<uint64_t>(m_skip, bytes);
        src += n;
        bytes -= static_cast<uint32_t>(n);
        m_skip -= n;
    } else {
        uint8_t head[10 + AV_INPUT_BUFFER_PADDING_SIZE] = {};
        std::memcpy(head, m_head, 10);
        // Not a tag: these bytes are audio.
        uint8_t* out = nullptr;
        int outSize = 0;
        const uint8_t* p = head;
        int left = 10;
        while (left > 0) {
            const int used = av_parser_parse2(m_parser, m_ctx, &out, &outSize, p, left,
                                              AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0) {
                break;
            }
            p += used;
            left -= used;
            if (outSize > 0) {
                DecodePacket(out, outSize);
            } else if (used == 0) {
                break;
            }
        }
    }
}

void MpegDecoder::Reserve(uint32_t srcBytes, uint32_t dstBytes) {
    CodecStream::Reserve(srcBytes, dstBytes);
    if (m_padded.size() < size_t{srcBytes} + AV_INPUT_BUFFER_PADDING_SIZE) {
        m_padded.assign(size_t{srcBytes} + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    }
}

void MpegDecoder::Process(const uint8_t* input, uint32_t bytes, bool end) {
    if (!IsOpen()) {
        return;
    }
    if (m_padded.size() < size_t{bytes} + AV_INPUT_BUFFER_PADDING_SIZE) {
        m_padded.resize(size_t{bytes} + AV_INPUT_BUFFER_PADDING_SIZE);
    }
    if (bytes > 0) {
        std::memcpy(m_padded.data(), input, bytes);
    }
    std::memset(m_padded.data() + bytes, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    const uint8_t* src = m_padded.data();
    SkipId3(src, bytes);
    uint8_t* out = nullptr;
    int outSize = 0;
    while (bytes > 0) {
        const int chunk = static_cast<int>(std::min<uint32_t>(bytes, 1u << 30));
        const int used = av_parser_parse2(m_parser, m_ctx, &out, &outSize, src, chunk,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) {
            break;
        }
        src += used;
        bytes -= static_cast<uint32_t>(used);
        if (outSize > 0) {
            DecodePacket(out, outSize);
        }
        if (used == 0 && outSize == 0) {
            break;
        }
    }
    if (end) {
        // An empty buffer flushes the frame the parser holds.
        av_parser_parse2(m_parser, m_ctx, &out, &outSize, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (outSize > 0) {
            DecodePacket(out, outSize);
        }
    }
}

void MpegDecoder::DecodePacket(const uint8_t* data, int size) {
    if (m_firstFrame) {
        m_firstFrame = false;
        Mp3InfoTag tag;
        if (ParseMp3InfoTag(data, static_cast<size_t>(size), tag)) {
            m_keepFrom = uint64_t{tag.encoderDelay} + kMp3DecoderDelay;
            if (tag.frames != 0) {
                m_keepUntil = tag.frames * tag.samplesPerFrame - tag.padding + kMp3DecoderDelay;
            }
            return;  // the tag frame holds no audio
        }
    }
    m_packet->data = const_cast<uint8_t*>(data);
    m_packet->size = size;
    if (avcodec_send_packet(m_ctx, m_packet) >= 0) {
        while (avcodec_receive_frame(m_ctx, m_frame) >= 0) {
            if (static_cast<uint32_t>(m_frame->sample_rate) == m_rate && m_frame->nb_samples > 0) {
                const auto n = static_cast<uint64_t>(m_frame->nb_samples);
                const uint64_t from = std::max(m_position, m_keepFrom);
                const uint64_t until = std::min(m_position + n, m_keepUntil);
                if (from < until) {
                    AppendFrameS16(m_frame, m_channels, m_output,
                                   static_cast<int>(from - m_position),
                                   static_cast<int>(until - from));
                }
                m_position += n;
            }
            av_frame_unref(m_frame);
        }
    }
    m_packet->data = nullptr;
    m_packet->size = 0;
}

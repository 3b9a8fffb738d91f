#include "samplecodec.h"

#include <cmath>
#include <cstring>

#include "codec/g711.h"
#include "platform/byteorder.h"

namespace {

int16_t FromFloat(double v) {
    // Scaled by 32768 so that -1.0 maps to -32768; +1.0 saturates at 32767.
    const double s = std::nearbyint(v * 32768.0);
    if (!(s < 32767.0)) {
        return s != s ? 0 : 32767;  // NaN decodes as silence
    }
    return s < -32768.0 ? -32768 : static_cast<int16_t>(s);
}

// Drops `shift` low bits with rounding to nearest, saturating at the top.
int16_t Narrow(int64_t v, int shift) {
    const int64_t r = (v + (int64_t{1} << (shift - 1))) >> shift;
    return ClampS16(static_cast<int32_t>(r > 32767 ? 32767 : r));
}

}  // namespace

uint32_t SampleCodec::SampleBytes(SampleKind kind) {
    switch (kind) {
        case SampleKind::U8:
        case SampleKind::Mulaw:
        case SampleKind::Alaw:
            return 1;
        case SampleKind::S16:
            return 2;
        case SampleKind::S24:
            return 3;
        case SampleKind::S32:
        case SampleKind::F32:
            return 4;
        case SampleKind::F64:
            return 8;
    }
    return 1;
}

SampleCodec::SampleCodec(SampleKind kind, bool encode, uint16_t channels)
    : m_kind(kind), m_encode(encode) {
    const uint32_t coded = SampleBytes(kind) * channels;
    const uint32_t linear = 2u * channels;
    m_inFrame = encode ? linear : coded;
    m_outFrame = encode ? coded : linear;
    m_output.SetBlock(m_outFrame);
}

uint32_t SampleCodec::DstBoundFor(uint32_t srcBytes) const {
    const uint64_t frames = (uint64_t{srcBytes} + m_inFrame - 1) / m_inFrame;
    return SaturateU32(frames * m_outFrame);
}

uint32_t SampleCodec::SrcNeededFor(uint32_t dstBytes) const {
    const uint64_t frames = (uint64_t{dstBytes} + m_outFrame - 1) / m_outFrame;
    return SaturateU32(frames * m_inFrame);
}

void SampleCodec::Reset() {
    m_partialBytes = 0;
    m_output.Clear();
}

void SampleCodec::Process(const uint8_t* src, uint32_t bytes, bool /*end*/) {
    if (m_partialBytes > 0) {
        const uint32_t need = m_inFrame - m_partialBytes;
        const uint32_t take = bytes < need ? bytes : need;
        std::memcpy(m_partial + m_partialBytes, src, take);
        m_partialBytes += take;
        src += take;
        bytes -= take;
        if (m_partialBytes < m_inFrame) {
            return;
        }
        ConvertFrames(m_partial, 1);
        m_partialBytes = 0;
    }
    const uint32_t frames = bytes / m_inFrame;
    ConvertFrames(src, frames);
    const uint32_t rest = bytes - frames * m_inFrame;
    std::memcpy(m_partial, src + frames * m_inFrame, rest);
    m_partialBytes = rest;
}

void SampleCodec::ConvertFrames(const uint8_t* src, uint32_t frames) {
    if (frames == 0) {
        return;
    }
    const size_t outBytes = size_t{frames} * m_outFrame;
    uint8_t* out = m_output.Extend(outBytes);
    const size_t samples = size_t{frames} * (m_outFrame / (m_encode ? SampleBytes(m_kind) : 2));
    if (m_encode) {
        for (size_t i = 0; i < samples; ++i) {
            const int16_t s = platform::LoadLe16s(src + 2 * i);
            out[i] = m_kind == SampleKind::Alaw ? G711LinearToAlaw(s) : G711LinearToMulaw(s);
        }
        m_output.Commit(outBytes);
        return;
    }
    if (m_kind == SampleKind::S16) {
        // Little-endian 16-bit in, little-endian 16-bit out: the same bytes.
        std::memcpy(out, src, outBytes);
        m_output.Commit(outBytes);
        return;
    }
    for (size_t i = 0; i < samples; ++i) {
        int16_t s = 0;
        const uint8_t* p = src + i * SampleBytes(m_kind);
        switch (m_kind) {
            case SampleKind::U8:
                s = static_cast<int16_t>((p[0] - 128) * 256);
                break;
            case SampleKind::S16:
                s = platform::LoadLe16s(p);
                break;
            case SampleKind::S24: {
                s = Narrow(platform::LoadLe24s(p), 8);
                break;
            }
            case SampleKind::S32: {
                s = Narrow(platform::LoadLe32s(p), 16);
                break;
            }
            case SampleKind::F32:
                s = FromFloat(platform::LoadLeF32(p));
                break;
            case SampleKind::F64:
                s = FromFloat(platform::LoadLeF64(p));
                break;
            case SampleKind::Mulaw:
                s = G711MulawToLinear(p[0]);
                break;
            case SampleKind::Alaw:
                s = G711AlawToLinear(p[0]);
                break;
        }
        platform::StoreLe16s(out + 2 * i, s);
    }
    m_output.Commit(outBytes);
}

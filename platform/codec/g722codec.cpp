#include "g722codec.h"

#include <algorithm>
#include <cstring>

#include "platform/byteorder.h"

G722Codec::G722Codec(bool encode) : m_encode(encode) {
    m_output.SetBlock(OutBlock());
}

uint32_t G722Codec::DstBoundFor(uint32_t srcBytes) const {
    const uint64_t blocks = (uint64_t{srcBytes} + m_partialBytes + InBlock() - 1) / InBlock();
    return SaturateU32(blocks * OutBlock());
}

uint32_t G722Codec::SrcNeededFor(uint32_t dstBytes) const {
    const uint64_t blocks = (uint64_t{dstBytes} + OutBlock() - 1) / OutBlock();
    return SaturateU32(blocks * InBlock());
}

void G722Codec::Reserve(uint32_t srcBytes, uint32_t dstBytes) {
    // The samples of the longest call, a completed partial block included.
    const size_t blocks = srcBytes / InBlock() + 1;
    m_samples.resize(std::max(m_samples.size(), blocks * 2));
    CodecStream::Reserve(srcBytes, dstBytes);
}

void G722Codec::Reset() {
    m_encoder.Reset();
    m_decoder.Reset();
    m_partialBytes = 0;
    m_output.Clear();
}

void G722Codec::Process(const uint8_t* src, uint32_t bytes, bool /*end*/) {
    if (m_partialBytes > 0) {
        const uint32_t take = std::min(bytes, InBlock() - m_partialBytes);
        std::memcpy(m_partial + m_partialBytes, src, take);
        m_partialBytes += take;
        src += take;
        bytes -= take;
        if (m_partialBytes < InBlock()) {
            return;
        }
        ConvertBlocks(m_partial, 1);
        m_partialBytes = 0;
    }
    const uint32_t blocks = bytes / InBlock();
    ConvertBlocks(src, blocks);
    m_partialBytes = bytes - blocks * InBlock();
    std::memcpy(m_partial, src + blocks * InBlock(), m_partialBytes);
}

void G722Codec::ConvertBlocks(const uint8_t* src, uint32_t blocks) {
    if (blocks == 0) {
        return;
    }
    const size_t samples = size_t{blocks} * 2;
    // Grows only when a call is longer than any before (Reserve sizes it for the prepared one).
    if (m_samples.size() < samples) {
        m_samples.resize(samples);
    }
    uint8_t* out = m_output.Extend(size_t{blocks} * OutBlock());
    if (m_encode) {
        for (size_t i = 0; i < samples; ++i) {
            m_samples[i] = platform::LoadLe16s(src + 2 * i);
        }
        m_output.Commit(m_encoder.Encode(m_samples.data(), samples, out));
        return;
    }
    const size_t decoded = m_decoder.Decode(src, blocks, m_samples.data());
    for (size_t i = 0; i < decoded; ++i) {
        platform::StoreLe16s(out + 2 * i, m_samples[i]);
    }
    m_output.Commit(decoded * 2);
}

#include "blockdecoder.h"

#include <cstring>

BlockDecoder::BlockDecoder(uint32_t blockAlign, uint32_t framesPerBlock, uint16_t channels)
    : m_blockAlign(blockAlign),
      m_framesPerBlock(framesPerBlock),
      m_channels(channels),
      m_partial(blockAlign) {
    m_output.SetBlock(2u * channels);
}

uint32_t BlockDecoder::DstBoundFor(uint32_t srcBytes) const {
    // A held partial block can complete one more block than the new bytes alone.
    const uint64_t blocks = uint64_t{srcBytes} / m_blockAlign + 1;
    return SaturateU32(blocks * m_framesPerBlock * 2u * m_channels);
}

uint32_t BlockDecoder::SrcNeededFor(uint32_t dstBytes) const {
    const uint64_t perBlock = uint64_t{m_framesPerBlock} * 2u * m_channels;
    const uint64_t blocks = (uint64_t{dstBytes} + perBlock - 1) / perBlock;
    return SaturateU32(blocks * m_blockAlign);
}

void BlockDecoder::Reset() {
    m_partialBytes = 0;
    m_output.Clear();
    ResetDecoder();
}

void BlockDecoder::Process(const uint8_t* src, uint32_t bytes, bool end) {
    if (m_partialBytes > 0) {
        const uint32_t need = m_blockAlign - m_partialBytes;
        const uint32_t take = bytes < need ? bytes : need;
        std::memcpy(m_partial.data() + m_partialBytes, src, take);
        m_partialBytes += take;
        src += take;
        bytes -= take;
        if (m_partialBytes == m_blockAlign) {
            DecodeBlock(m_partial.data());
            m_partialBytes = 0;
        }
    }
    while (bytes >= m_blockAlign) {
        DecodeBlock(src);
        src += m_blockAlign;
        bytes -= m_blockAlign;
    }
    if (bytes > 0) {
        std::memcpy(m_partial.data(), src, bytes);
        m_partialBytes = bytes;
    }
    if (end && m_partialBytes > 0) {
        std::memset(m_partial.data() + m_partialBytes, 0, m_blockAlign - m_partialBytes);
        DecodePartialBlock(m_partial.data(), m_partialBytes);
        m_partialBytes = 0;
    }
}

#include "codec/codecstage.h"

#include <algorithm>

bool CodecStage::Open(const void* srcFormat, uint32_t srcFormatBytes, const void* dstFormat,
                      uint32_t dstFormatBytes, bool live) {
    Release();
    if (acmStreamOpen(&m_stream, nullptr, srcFormat, srcFormatBytes, dstFormat, dstFormatBytes,
                      live ? ACM_STREAMOPENF_LOWLATENCY : 0) != MMSYSERR_NOERROR) {
        m_stream = nullptr;
        return false;
    }
    return true;
}

uint32_t CodecStage::Size(uint32_t input, uint32_t flags) const {
    uint32_t output = 0;
    if (m_stream == nullptr || acmStreamSize(m_stream, input, &output, flags) != MMSYSERR_NOERROR) {
        return 0;
    }
    return output;
}

uint32_t CodecStage::DestinationBound(uint32_t srcBytes) const {
    return Size(srcBytes, ACM_STREAMSIZEF_SOURCE);
}

uint32_t CodecStage::SourceNeeded(uint32_t dstBytes) const {
    return Size(dstBytes, ACM_STREAMSIZEF_DESTINATION);
}

bool CodecStage::Prepare(uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes) {
    if (m_prepared) {
        acmStreamUnprepareHeader(m_stream, &m_header, 0);
        m_prepared = false;
    }
    m_header = ACMSTREAMHEADER{};
    m_header.cbStruct = ACMSTREAMHEADER_SIZE;
    m_header.pbSrc = src;
    m_header.cbSrcLength = srcBytes;
    m_header.pbDst = dst;
    m_header.cbDstLength = dstBytes;
    m_prepared =
        m_stream != nullptr && acmStreamPrepareHeader(m_stream, &m_header, 0) == MMSYSERR_NOERROR;
    return m_prepared;
}

uint32_t CodecStage::Convert(uint32_t srcBytes, bool end) {
    if (!m_prepared) {
        return 0;
    }
    // The header keeps its prepared length; a shorter call borrows it for this conversion.
    const uint32_t prepared = m_header.cbSrcLength;
    m_header.cbSrcLength = std::min(srcBytes, prepared);
    m_header.cbDstLengthUsed = 0;
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (end) {
        flags |= ACM_STREAMCONVERTF_END;
    }
    acmStreamConvert(m_stream, &m_header, flags);
    m_header.cbSrcLength = prepared;
    return std::min(m_header.cbDstLengthUsed, m_header.cbDstLength);
}

void CodecStage::Release() {
    if (m_prepared) {
        acmStreamUnprepareHeader(m_stream, &m_header, 0);
        m_prepared = false;
    }
    if (m_stream != nullptr) {
        acmStreamClose(m_stream, 0);
        m_stream = nullptr;
    }
    m_header = ACMSTREAMHEADER{};
}

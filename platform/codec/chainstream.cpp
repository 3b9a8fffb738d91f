#include "chainstream.h"

ChainStream::ChainStream(std::unique_ptr<CodecStream> first, std::unique_ptr<CodecStream> second,
                         uint32_t outBlock)
    : m_first(std::move(first)), m_second(std::move(second)) {
    m_output.SetBlock(outBlock);
}

uint32_t ChainStream::DstBoundFor(uint32_t srcBytes) const {
    return m_second->DstBoundFor(m_first->DstBoundFor(srcBytes));
}

uint32_t ChainStream::SrcNeededFor(uint32_t dstBytes) const {
    return m_first->SrcNeededFor(m_second->SrcNeededFor(dstBytes));
}

void ChainStream::Reserve(uint32_t srcBytes, uint32_t dstBytes) {
    const uint32_t middle = m_first->DstBoundFor(srcBytes);
    m_first->Reserve(srcBytes, middle);
    m_second->Reserve(middle, dstBytes);
    if (m_middle.size() < middle) {
        m_middle.resize(middle);
    }
    CodecStream::Reserve(srcBytes, dstBytes);
}

void ChainStream::Process(const uint8_t* src, uint32_t bytes, bool end) {
    m_first->Process(src, bytes, end);
    OutputQueue& mid = m_first->Output();
    if (m_middle.size() < mid.Size()) {
        m_middle.resize(mid.Size());
    }
    const uint32_t n = mid.Take(m_middle.data(), static_cast<uint32_t>(m_middle.size()));
    m_second->Process(m_middle.data(), n, end);
    OutputQueue& out = m_second->Output();
    while (out.Size() > 0) {
        uint8_t* p = m_output.Extend(out.Size());
        const uint32_t moved = out.Take(p, static_cast<uint32_t>(out.Size()));
        m_output.Commit(moved);
        if (moved == 0) {
            break;
        }
    }
}

void ChainStream::Reset() {
    m_first->Reset();
    m_second->Reset();
    m_output.Clear();
}

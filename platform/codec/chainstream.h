#pragma once
// Two conversions run one after the other inside one stream (a decoder followed by the
// rate converter, when a caller asks for both in one step).

#include <memory>
#include <vector>

#include "codecstream.h"

class ChainStream final : public CodecStream {
public:
    ChainStream(std::unique_ptr<CodecStream> first, std::unique_ptr<CodecStream> second,
                uint32_t outBlock);

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Reserve(uint32_t srcBytes, uint32_t dstBytes) override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

private:
    std::unique_ptr<CodecStream> m_first;
    std::unique_ptr<CodecStream> m_second;
    std::vector<uint8_t> m_middle;
};

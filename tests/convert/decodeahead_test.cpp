#include "decodeahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace {

// A decoder of 300 chunks, some empty, some far beyond the queue's batch, each filled with
// its own index: several megabytes in all, so that the helper outruns the queue's bound.
class FakeDecoder {
public:
    int64_t Decode() {
        ++m_calls;
        if (m_next == kChunks) {
            return -1;
        }
        const int index = m_next++;
        const size_t length = index % 7 == 3 ? 0 : (index % 50 == 0 ? 300000 : 1 + index * 97);
        std::fill_n(m_buffer.begin(), length, static_cast<uint8_t>(index));
        return static_cast<int64_t>(length);
    }
    static std::vector<std::vector<uint8_t>> Expected() {
        FakeDecoder all;
        std::vector<std::vector<uint8_t>> chunks;
        for (int64_t n = all.Decode(); n >= 0; n = all.Decode()) {
            if (n > 0) {
                chunks.emplace_back(all.m_buffer.begin(), all.m_buffer.begin() + n);
            }
        }
        return chunks;
    }
    const uint8_t* Buffer() const { return m_buffer.data(); }
    int Calls() const { return m_calls.load(); }

private:
    static constexpr int kChunks = 300;
    std::vector<uint8_t> m_buffer = std::vector<uint8_t>(300000);
    int m_next = 0;
    std::atomic<int> m_calls{0};
};

}  // namespace

// Ahead on a helper or on the caller's thread: the same non-empty chunks in the same order,
// nothing after the end; after Stop no chunk is given and the decoder is not called again.
TEST(DecodeAhead, SameChunksWhereverDecodingRunsAndNothingAfterStop) {
    const auto expected = FakeDecoder::Expected();
    for (const bool ahead : {true, false}) {
        SCOPED_TRACE(ahead ? "helper thread" : "caller's thread");
        std::atomic<bool> stop{false};
        {
            FakeDecoder decoder;
            DecodeAhead chunks([&] { return decoder.Decode(); }, decoder.Buffer(), stop, ahead);
            std::vector<std::vector<uint8_t>> got;
            const uint8_t* data = nullptr;
            uint32_t length = 0;
            while (chunks.Next(data, length)) {
                got.emplace_back(data, data + length);
            }
            EXPECT_EQ(got, expected);
            EXPECT_FALSE(chunks.Next(data, length));
        }
        FakeDecoder decoder;
        DecodeAhead chunks([&] { return decoder.Decode(); }, decoder.Buffer(), stop, ahead);
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        for (size_t i = 0; i < 20; ++i) {
            ASSERT_TRUE(chunks.Next(data, length));
            EXPECT_EQ(std::vector<uint8_t>(data, data + length), expected[i]);
        }
        chunks.Stop();
        const int calls = decoder.Calls();
        EXPECT_FALSE(chunks.Next(data, length));
        EXPECT_EQ(decoder.Calls(), calls);
    }
}

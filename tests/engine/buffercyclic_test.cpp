#include "engine/buffercyclic.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <numeric>
#include <random>
#include <vector>

// Reaches the ring's counters, which only its own operations move otherwise.
class BufferCyclicTestPeer {
public:
    static void SetCounters(BufferCyclic& ring, uint32_t written, uint32_t read, uint32_t writePos,
                            uint32_t readPos) {
        ring.m_totalWritten = written;
        ring.m_totalRead = read;
        ring.m_writePos = writePos;
        ring.m_readPos = readPos;
    }
    static uint32_t WritePos(const BufferCyclic& ring) { return ring.m_writePos; }
    static uint32_t ReadPos(const BufferCyclic& ring) { return ring.m_readPos; }
};

namespace {

using Peer = BufferCyclicTestPeer;

std::vector<uint8_t> Sequence(size_t n, uint8_t first) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

struct RingState {
    uint32_t free, held, writePos, readPos;
    bool operator==(const RingState&) const = default;
};

RingState StateOf(const BufferCyclic& ring) {
    return {ring.FreeSpace(), ring.HeldBytes(), Peer::WritePos(ring), Peer::ReadPos(ring)};
}

TEST(BufferCyclic, FillingToCapacityWrapsWritePosAndRefusesMore) {
    BufferCyclic ring(10);
    EXPECT_EQ(ring.FreeSpace(), 10u);
    const auto bytes = Sequence(10, 1);
    EXPECT_EQ(ring.Write(bytes.data(), 10), 1);
    EXPECT_EQ(ring.FreeSpace(), 0u);
    EXPECT_EQ(Peer::WritePos(ring), 0u);
    const uint8_t one = 0xEE;
    EXPECT_EQ(ring.Write(&one, 1), 0);
    EXPECT_EQ(ring.HeldBytes(), 10u);
}

TEST(BufferCyclic, ReadNeedsStrictlyMoreThanItTakes) {
    BufferCyclic ring(10);
    const auto bytes = Sequence(10, 1);
    ASSERT_EQ(ring.Write(bytes.data(), 10), 1);
    std::vector<uint8_t> out(10, 0);
    const RingState before = StateOf(ring);
    EXPECT_EQ(ring.Read(out.data(), 10), 0);
    EXPECT_EQ(StateOf(ring), before);
    EXPECT_EQ(out, std::vector<uint8_t>(10, 0)) << "a refused read must not touch the output";
    EXPECT_EQ(ring.Read(out.data(), 9), 1);
    EXPECT_EQ(ring.HeldBytes(), 1u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 9), Sequence(9, 1));
    EXPECT_EQ(ring.Read(out.data(), 1), 0) << "the last byte written can never be read";
    // ... except by the drain at the end of a source, which empties the ring.
    out[0] = 0;
    EXPECT_EQ(ring.Drain(out.data(), 10), 1u);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(ring.HeldBytes(), 0u);
    EXPECT_EQ(ring.Drain(out.data(), 10), 0u);
}

TEST(BufferCyclic, ZeroByteReadsFollowTheStrictRule) {
    BufferCyclic ring(10);
    uint8_t out = 0;
    EXPECT_EQ(ring.Read(&out, 0), 0);
    const uint8_t one = 7;
    ASSERT_EQ(ring.Write(&one, 1), 1);
    const RingState before = StateOf(ring);
    EXPECT_EQ(ring.Read(nullptr, 0), 1);
    EXPECT_EQ(StateOf(ring), before);
    EXPECT_EQ(ring.Write(nullptr, 0), 1);
    EXPECT_EQ(StateOf(ring), before);
}

TEST(BufferCyclic, RequestsLargerThanCapacityAreRefusedUnchanged) {
    BufferCyclic ring(10);
    const auto bytes = Sequence(11, 0);
    EXPECT_EQ(ring.Write(bytes.data(), 11), 0);
    EXPECT_EQ(ring.Write(bytes.data(), UINT32_MAX), 0);
    EXPECT_EQ(ring.FreeSpace(), 10u);
    ASSERT_EQ(ring.Write(bytes.data(), 5), 1);
    std::vector<uint8_t> out(11);
    const RingState before = StateOf(ring);
    EXPECT_EQ(ring.Read(out.data(), 11), 0);
    EXPECT_EQ(ring.Read(out.data(), UINT32_MAX), 0);
    EXPECT_EQ(ring.Write(bytes.data(), 6), 0) << "only 5 bytes are free";
    EXPECT_EQ(StateOf(ring), before);
}

TEST(BufferCyclic, StraddlingWriteAndReadKeepByteOrder) {
    BufferCyclic ring(10);
    const auto head = Sequence(8, 100);
    std::vector<uint8_t> out(16);
    ASSERT_EQ(ring.Write(head.data(), 8), 1);
    ASSERT_EQ(ring.Read(out.data(), 7), 1);  // one byte stays so the next read can succeed
    ASSERT_EQ(Peer::WritePos(ring), 8u);

    const auto straddle = Sequence(5, 1);  // 2 bytes at the end, 3 at the start
    ASSERT_EQ(ring.Write(straddle.data(), 5), 1);
    EXPECT_EQ(Peer::WritePos(ring), 3u);
    EXPECT_EQ(ring.HeldBytes(), 6u);

    // Read from position 7 across the end: byte 107, then 1..4.
    ASSERT_EQ(ring.Read(out.data(), 5), 1);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 5),
              (std::vector<uint8_t>{107, 1, 2, 3, 4}));
    EXPECT_EQ(Peer::ReadPos(ring), 2u);
}

TEST(BufferCyclic, ReadEndingExactlyAtTheEndWrapsReadPosToZero) {
    BufferCyclic ring(10);
    const auto bytes = Sequence(10, 0);
    ASSERT_EQ(ring.Write(bytes.data(), 10), 1);
    std::vector<uint8_t> out(10);
    ASSERT_EQ(ring.Read(out.data(), 4), 1);
    ASSERT_EQ(ring.Write(bytes.data(), 4), 1);  // writePos 0 -> 4
    ASSERT_EQ(ring.Read(out.data(), 6), 1);     // readPos 4 -> 10 -> 0
    EXPECT_EQ(Peer::ReadPos(ring), 0u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 6), Sequence(6, 4));
    ASSERT_EQ(ring.Read(out.data(), 3), 1);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3), Sequence(3, 0));
}

TEST(BufferCyclic, ResetEmptiesTheRing) {
    BufferCyclic ring(10);
    const auto bytes = Sequence(7, 0);
    ASSERT_EQ(ring.Write(bytes.data(), 7), 1);
    ring.Reset();
    EXPECT_EQ(StateOf(ring), (RingState{10, 0, 0, 0}));
}

// The running counters start a few bytes short of 2^32 and wrap during the test; free space,
// held bytes and the strict read rule must not notice.
class BufferCyclicCounterWrap : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BufferCyclicCounterWrap, CountsAcrossTheWrapPoint) {
    const uint32_t start = UINT32_MAX - GetParam() + 1;  // GetParam() bytes before the wrap
    BufferCyclic ring(10);
    Peer::SetCounters(ring, start, start, 6, 6);
    EXPECT_EQ(ring.FreeSpace(), 10u);

    const auto bytes = Sequence(10, 50);
    ASSERT_EQ(ring.Write(bytes.data(), 10), 1);
    EXPECT_EQ(ring.FreeSpace(), 0u);
    EXPECT_EQ(ring.HeldBytes(), 10u);
    const uint8_t extra = 0;
    EXPECT_EQ(ring.Write(&extra, 1), 0);

    std::vector<uint8_t> out(10);
    EXPECT_EQ(ring.Read(out.data(), 10), 0);
    ASSERT_EQ(ring.Read(out.data(), 9), 1);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 9), Sequence(9, 50));
    EXPECT_EQ(ring.HeldBytes(), 1u);
    EXPECT_EQ(ring.FreeSpace(), 9u);

    ASSERT_EQ(ring.Write(bytes.data(), 9), 1);
    EXPECT_EQ(ring.FreeSpace(), 0u);
    ASSERT_EQ(ring.Read(out.data(), 5), 1);
    EXPECT_EQ(out[0], 59);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.begin() + 5), Sequence(4, 50));
    EXPECT_EQ(ring.HeldBytes(), 5u);
}

INSTANTIATE_TEST_SUITE_P(NearWrap, BufferCyclicCounterWrap,
                         ::testing::Values(1u, 2u, 5u, 9u, 10u, 11u, 20u),
                         [](const auto& param) { return "Before" + std::to_string(param.param); });

// Random all-or-nothing traffic, and now and then a drain, against a plain queue, with
// counters that wrap several times over a small capacity (the capacity-10 edges above are
// checked on their own).
class BufferCyclicModel : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BufferCyclicModel, MatchesAQueue) {
    const uint32_t capacity = GetParam();
    BufferCyclic ring(capacity);
    const uint32_t start = UINT32_MAX - 3 * capacity;
    Peer::SetCounters(ring, start, start, capacity / 3, capacity / 3);
    std::deque<uint8_t> model;
    std::mt19937 rng(capacity);
    uint8_t next = 0;
    std::vector<uint8_t> buf(capacity + 2);
    for (int step = 0; step < 4000; ++step) {
        const uint32_t n = std::uniform_int_distribution<uint32_t>(0, capacity + 1)(rng);
        if (rng() % 2 == 0) {
            for (uint32_t i = 0; i < n; ++i) {
                buf[i] = static_cast<uint8_t>(next + i);
            }
            const bool fits = n <= capacity - model.size();
            ASSERT_EQ(ring.Write(buf.data(), n), fits ? 1 : 0) << "step " << step;
            if (fits) {
                model.insert(model.end(), buf.begin(), buf.begin() + n);
                next = static_cast<uint8_t>(next + n);
            }
        } else if (rng() % 8 == 0) {
            const uint32_t taken = std::min<uint32_t>(n, static_cast<uint32_t>(model.size()));
            ASSERT_EQ(ring.Drain(buf.data(), n), taken) << "step " << step;
            ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + taken, model.begin()))
                << "step " << step;
            model.erase(model.begin(), model.begin() + taken);
        } else {
            const bool allowed = model.size() > n;
            ASSERT_EQ(ring.Read(buf.data(), n), allowed ? 1 : 0) << "step " << step;
            if (allowed) {
                ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + n, model.begin()))
                    << "step " << step;
                model.erase(model.begin(), model.begin() + n);
            }
        }
        ASSERT_EQ(ring.HeldBytes(), model.size());
        ASSERT_EQ(ring.FreeSpace(), capacity - model.size());
        ASSERT_LT(Peer::WritePos(ring), capacity);
        ASSERT_LT(Peer::ReadPos(ring), capacity);
    }
}

INSTANTIATE_TEST_SUITE_P(Capacities, BufferCyclicModel, ::testing::Values(1u, 7u, 64u, 1000u));

}  // namespace

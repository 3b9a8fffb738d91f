#pragma once
// Capture-to-send latency of a live page: for each packet, the time from the capture of the
// sound of its first sample (the rate converter's delay included) to the packet leaving. Kept as a
// histogram of 0.1 ms bins up to 1 s, so recording allocates nothing and a page of any length fits.

#include <array>
#include <cstddef>
#include <cstdint>

class PageLatency {
public:
    struct Summary {
        uint64_t count = 0;
        int64_t medianUs = 0;
        int64_t p95Us = 0;
        int64_t p99Us = 0;
        int64_t maxUs = 0;
    };

    void Reset();
    // A negative latency (a clock read before the capture time) counts as 0; one past the
    // last bin counts in the last bin, and in maxUs as itself.
    void Record(int64_t latencyNs);
    // Percentiles are the upper edge of their bin: never below the true value.
    Summary Summarise() const;

private:
    static constexpr int64_t kBinNs = 100000;
    static constexpr size_t kBins = 10000;
    std::array<uint32_t, kBins> m_bins{};
    uint64_t m_count = 0;
    int64_t m_maxNs = 0;
};

#include "engine/pagelatency.h"

#include <algorithm>
#include <iterator>

void PageLatency::Reset() {
    m_bins.fill(0);
    m_count = 0;
    m_maxNs = 0;
}

void PageLatency::Record(int64_t latencyNs) {
    latencyNs = std::max<int64_t>(latencyNs, 0);
    const auto bin = std::min(static_cast<size_t>(latencyNs / kBinNs), kBins - 1);
    ++m_bins[bin];
    ++m_count;
    m_maxNs = std::max(m_maxNs, latencyNs);
}

PageLatency::Summary PageLatency::Summarise() const {
    Summary summary;
    summary.count = m_count;
    summary.maxUs = m_maxNs / 1000;
    if (m_count == 0) {
        return summary;
    }
    // The smallest bin whose running count reaches the rank (rounded up) of each percentile.
    struct Wanted {
        uint64_t rank;
        int64_t* into;
    };
    const Wanted wanted[] = {{(m_count + 1) / 2, &summary.medianUs},
                             {(m_count * 95 + 99) / 100, &summary.p95Us},
                             {(m_count * 99 + 99) / 100, &summary.p99Us}};
    size_t next = 0;
    uint64_t seen = 0;
    for (size_t i = 0; i < kBins && next < std::size(wanted); ++i) {
        seen += m_bins[i];
        const int64_t upperUs = static_cast<int64_t>(i + 1) * kBinNs / 1000;
        while (next < std::size(wanted) && seen >= wanted[next].rank) {
            *wanted[next++].into = std::min(upperUs, summary.maxUs);
        }
    }
    return summary;
}

// The minimum-phase twin of a filter: a zero outside the unit circle reflected inside, one
// inside left where it is, and the sizes it refuses.
#include "minimumphase.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void ExpectTaps(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], 1e-9) << i;
    }
}

TEST(MinimumPhase, ReflectsZerosInsideTheUnitCircleAndKeepsTheMagnitude) {
    // 1 + 2z^-1 has its zero at -2: its twin 2 + z^-1, the same magnitude, energy first.
    ExpectTaps(MinimumPhase({1.0, 2.0}, 1024), {2.0, 1.0});
    // (1 - 3z^-1)(1 + 0.5z^-1) = 1 - 2.5z^-1 - 1.5z^-2: only the zero at 3 moves, to 1/3,
    // giving (3 - z^-1)(1 + 0.5z^-1).
    ExpectTaps(MinimumPhase({1.0, -2.5, -1.5}, 4096), {3.0, 0.5, -0.5});
    // Already minimum-phase: unchanged.
    ExpectTaps(MinimumPhase({1.0, -0.25}, 1024), {1.0, -0.25});
}

TEST(MinimumPhase, RefusesSizesThatCannotHoldTheFilter) {
    EXPECT_TRUE(MinimumPhase({}, 1024).empty());
    EXPECT_TRUE(MinimumPhase({1.0, 2.0, 3.0}, 2).empty());
    EXPECT_TRUE(MinimumPhase({1.0, 2.0}, 1000).empty());
}

}  // namespace

// The drift steering against a model of a capture device whose clock runs off the system's:
// the device yields its audio in blocks of 2.5 ms of its own time, a little late at random,
// and the converter makes (1 + trim) times as many 8 kHz samples of each block.
#include "engine/driftsteering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr int64_t kPacketNs = 20000000;
constexpr double kBlockNs = 2500000;

struct Outcome {
    double trimPpm = 0;     // on average over the last minute
    double worstLagMs = 0;  // after the first minute
    double worstTrimStepPpm = 0;
};

// Ten minutes of 20 ms packets from a device `driftPpm` fast (negative: slow).
Outcome Steer(double driftPpm) {
    DriftSteering steering;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(0, 300000);  // a late wake-up, in ns
    Outcome outcome;
    double produced = 0;  // 8 kHz samples made so far
    double deviceNs = 0;  // the device's own time of the block being read
    double previous = 0;
    for (int64_t k = 0; k < 30000; ++k) {
        // Blocks until the packet's last sample is made, at the real time of the last one.
        double realNs = 0;
        while (produced < static_cast<double>((k + 1) * 160)) {
            deviceNs += kBlockNs;
            produced += kBlockNs * 8000 / 1e9 * (1 + steering.TrimPpm() * 1e-6);
            realNs = deviceNs / (1 + driftPpm * 1e-6) + jitter(random);
        }
        const auto lag = static_cast<int64_t>(realNs) - (k + 1) * kPacketNs;
        const double trim = steering.Update(lag, kPacketNs);
        if (k > 3000) {
            outcome.worstLagMs = std::max(outcome.worstLagMs, std::abs(lag / 1e6));
        }
        outcome.worstTrimStepPpm = std::max(outcome.worstTrimStepPpm, std::abs(trim - previous));
        previous = trim;
        if (k >= 27000) {
            outcome.trimPpm += trim / 3000;
        }
    }
    return outcome;
}

TEST(DriftSteering, FollowsAClockThatDriftsEitherWayWithBoundedLatencyAndGentleSteps) {
    for (const double drift : {-200.0, 0.0, 150.0}) {
        SCOPED_TRACE(drift);
        const Outcome outcome = Steer(drift);
        // The converter makes up for the drift, and the lag settles near drift / 100 ppm per
        // ms (a slow device's beyond the late band), whatever the blocks' quantisation and
        // jitter add (they make the trim wander a few tens of ppm about it: a pitch nobody
        // hears change).
        EXPECT_NEAR(outcome.trimPpm, -drift, 15);
        const double bandMs = kPacketNs / DriftSteering::kLateBandDivisor / 1e6;
        EXPECT_LT(outcome.worstLagMs, std::abs(drift) / DriftSteering::kPpmPerMs + bandMs + 3.5);
        if (drift == 0.0) {
            // A device in step whose blocks come a little late leaves the ratio alone: the
            // packets stay where they fall in its blocks.
            EXPECT_EQ(outcome.trimPpm, 0.0);
        }
        // The ratio changes a few ppm a packet at most: no step anyone hears.
        EXPECT_LT(outcome.worstTrimStepPpm, 10);
    }
}

TEST(DriftSteering, ADeviceAheadOfRealTimeOrAResetLeavesNoTrim) {
    DriftSteering steering;
    for (int k = 0; k < 100; ++k) {
        EXPECT_EQ(steering.Update(-3 * kPacketNs, kPacketNs), 0.0);  // a file, read ahead
    }
    for (int k = 0; k < 1000; ++k) {
        steering.Update(40 * kPacketNs, kPacketNs);  // far behind: the trim is held in bounds
    }
    EXPECT_EQ(steering.TrimPpm(), DriftSteering::kMaxTrimPpm);
    steering.Reset();
    EXPECT_EQ(steering.TrimPpm(), 0.0);
}

}  // namespace

#pragma once
// The minimum-phase twin of a filter: the same magnitude response, with its energy as early
// as a causal filter allows, so that a lowpass delays the band it passes by a fraction of its
// length instead of half of it. Found through the real cepstrum (the log magnitude's inverse
// transform folded onto positive times). Runs once per filter design, on any thread; it
// allocates.

#include <cstddef>
#include <vector>

// Returns as many taps as `taps` holds. fftSize, a power of two, bounds the cepstrum's
// aliasing: eight or more times the filter's length keeps the result's magnitude response
// within a hundredth of a decibel of the original's in its passband. The magnitude is floored
// 140 dB below its peak, so zeros on the unit circle cost nothing but their depth. Empty for
// an empty filter or a size that is not a power of two at least the filter's length.
std::vector<double> MinimumPhase(const std::vector<double>& taps, size_t fftSize);

#include "minimumphase.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

using Complex = std::complex<double>;

// In-place radix-2 transform; `inverse` conjugates the twiddles and divides by the size.
// Written here rather than taken from a library: it runs once per filter design, and a
// transform library would be a runtime dependency for these few lines.
void Transform(std::vector<Complex>& x, bool inverse) {
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j |= bit;
        if (i < j) {
            std::swap(x[i], x[j]);
        }
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = (inverse ? 2.0 : -2.0) * M_PI / static_cast<double>(len);
        const Complex unit(std::cos(angle), std::sin(angle));
        for (size_t start = 0; start < n; start += len) {
            Complex w(1.0, 0.0);
            for (size_t k = 0; k < len / 2; ++k) {
                const Complex a = x[start + k];
                const Complex b = x[start + k + len / 2] * w;
                x[start + k] = a + b;
                x[start + k + len / 2] = a - b;
                // Recomputed now and then, so that rounding does not pile up along a long run.
                w = (k + 1) % 64 == 0 ? std::polar(1.0, angle * static_cast<double>(k + 1))
                                      : w * unit;
            }
        }
    }
    if (inverse) {
        for (Complex& v : x) {
            v /= static_cast<double>(n);
        }
    }
}

}  // namespace

std::vector<double> MinimumPhase(const std::vector<double>& taps, size_t fftSize) {
    if (taps.empty() || fftSize < taps.size() || (fftSize & (fftSize - 1)) != 0) {
        return {};
    }
    std::vector<Complex> x(fftSize);
    std::copy(taps.begin(), taps.end(), x.begin());
    Transform(x, false);
    double peak = 0.0;
    for (const Complex& v : x) {
        peak = std::max(peak, std::abs(v));
    }
    const double floor = peak * 1e-7;
    for (Complex& v : x) {
        v = std::log(std::max(std::abs(v), floor));
    }
    // The real cepstrum, folded: what lies at negative times moves to positive ones.
    Transform(x, true);
    for (size_t i = 1; i < fftSize / 2; ++i) {
        x[i] = 2.0 * x[i].real();
    }
    x[0] = x[0].real();
    x[fftSize / 2] = x[fftSize / 2].real();
    std::fill(x.begin() + static_cast<std::ptrdiff_t>(fftSize / 2 + 1), x.end(), Complex{});
    Transform(x, false);
    for (Complex& v : x) {
        v = std::exp(v);
    }
    Transform(x, true);
    std::vector<double> out(taps.size());
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = x[i].real();
    }
    return out;
}

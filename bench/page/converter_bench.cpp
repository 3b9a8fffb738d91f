// The live rate converter's cost and delay: a minute of a capture device's audio, in 2.5 ms
// blocks as a page reads them, converted to 8 kHz mono at each common device rate, with the
// thread's CPU time for it.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "codec/liveresampler.h"

namespace {
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
}  // namespace

int main() {
    constexpr unsigned kOut = 8000;
    constexpr unsigned kSeconds = 60;
    std::printf("%-8s %-4s %12s %10s %10s\n", "rate", "ch", "cpu_s/60s", "share_%", "delay_ms");
    for (const auto& [rate, channels] :
         {std::pair{48000u, 1u}, std::pair{48000u, 2u}, std::pair{44100u, 2u},
          std::pair{16000u, 1u}, std::pair{96000u, 2u}, std::pair{192000u, 1u}}) {
        LiveResampler converter;
        if (!converter.Open(rate, channels, kOut)) {
            std::fprintf(stderr, "converter_bench: %u Hz refused\n", rate);
            return 1;
        }
        const size_t frames = rate / 400;
        std::vector<int16_t> block(frames * channels);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<int16_t>(8000.0 * std::sin(0.37 * static_cast<double>(i)));
        }
        std::vector<int16_t> out(converter.OutputBound(frames));
        size_t produced = 0;
        const double start = ThreadCpuSeconds();
        for (unsigned b = 0; b < kSeconds * 400; ++b) {
            produced += converter.Process(block.data(), frames, out.data(), out.size());
        }
        const double cpu = ThreadCpuSeconds() - start;
        const size_t expected = frames * kSeconds * 400 * kOut / rate;
        if (produced + 16 < expected) {
            std::fprintf(stderr, "converter_bench: %u Hz gave only %zu samples\n", rate, produced);
            return 1;
        }
        std::printf("%-8u %-4u %12.3f %10.2f %10.3f\n", rate, channels, cpu, cpu / kSeconds * 100.0,
                    static_cast<double>(converter.DelayNs()) / 1e6);
    }
    return 0;
}

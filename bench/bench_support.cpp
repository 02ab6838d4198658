#include "bench_support.h"

#include <cmath>

std::vector<float> DriftScan(int32_t n) {
    std::vector<float> samples(static_cast<std::size_t>(n));
    uint32_t state = 12345;
    for (int32_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        const double x = (static_cast<double>(i) - 0.5 * n) / (0.15 * n + 1.0);
        const double disk = 5000.0 * std::exp(-x * x);
        samples[static_cast<std::size_t>(i)] = static_cast<float>(1200.0 + 0.01 * i + disk + 40.0 * noise);
    }
    return samples;
}

// Inputs shared by the micro-benchmarks: a drift scan of the Sun as the
// acquisition system records it (a smooth disk profile with noise on a
// sloped baseline), the same on every run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// The sample counts every per-sample benchmark runs with: a short and a
// typical recording, the longest one the acquisition system writes, and one
// far beyond it.
inline void SampleCounts(benchmark::internal::Benchmark* b) {
    for (const int64_t n : {100, 1000, 8191, 100000}) b->Arg(n);
}

// n samples of one polarisation.
std::vector<float> DriftScan(int32_t n);

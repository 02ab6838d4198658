// The jump repair of one polarisation with 0, 5 and 19 markers of the channel
// (the most it applies), spread over the samples. Every iteration repairs a
// fresh copy of the raw samples; the copy is part of the time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

#include "bench_support.h"
#include "convert/repair.h"

namespace {

constexpr int16_t kCalibrationIndex = 3;

// Position/tag pairs at evenly spread positions within what 16 bits can mark,
// each followed by a pair of another channel that the repair passes over.
std::vector<int16_t> SpreadMarkers(int32_t n, int count) {
    std::vector<int16_t> markers;
    const int32_t reach = std::min<int32_t>(n, 32767);
    for (int k = 1; k <= count; ++k) {
        const auto position = static_cast<int16_t>(reach * k / (count + 1));
        markers.insert(markers.end(), {position, int16_t{8 * kCalibrationIndex}});
        markers.insert(markers.end(), {position, int16_t{8 * (kCalibrationIndex + 1)}});
    }
    return markers;
}

void Repair(benchmark::State& state, int32_t repairMode) {
    const auto n = static_cast<int32_t>(state.range(0));
    const auto markerCount = static_cast<int>(state.range(1));
    const std::vector<float> raw = DriftScan(n);
    const std::vector<int16_t> markers = SpreadMarkers(n, markerCount);
    std::vector<float> samples(raw.size());
    for (auto _ : state) {
        std::memcpy(samples.data(), raw.data(), raw.size() * sizeof(float));
        RepairJumps(kCalibrationIndex, n, samples.data(), static_cast<int32_t>(markers.size()),
                    markers.data(), repairMode);
        benchmark::DoNotOptimize(samples.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_RepairTwoSided(benchmark::State& state) { Repair(state, kTwoSidedExtrapolation); }
void BM_RepairBack(benchmark::State& state) { Repair(state, kBackExtrapolation); }

void SamplesAndMarkers(benchmark::internal::Benchmark* b) {
    b->ArgNames({"n", "markers"});
    for (const int64_t n : {100, 1000, 8191, 100000})
        for (const int64_t markers : {0, 5, 19}) b->Args({n, markers});
}
BENCHMARK(BM_RepairTwoSided)->Apply(SamplesAndMarkers);
BENCHMARK(BM_RepairBack)->Apply(SamplesAndMarkers);

}  // namespace

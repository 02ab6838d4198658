// Scaling one polarisation to 16 bits, as the channel loop does it.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "output/scan_output.h"

namespace {

void BM_ScaleSamples(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<float> samples = DriftScan(n);
    for (auto _ : state) {
        ScaledBlock block = ScaleSamples(samples.data(), n, kLeftScalingSeed);
        benchmark::DoNotOptimize(block.values.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ScaleSamples)->Apply(SampleCounts);

// The two halves: the values with a given BZERO and BSCALE by the fast path,
// and by the extended-precision rule sample by sample, which it stands for.
template <typename Scale>
void ScaleValues(benchmark::State& state, Scale scale) {
    const auto n = static_cast<int32_t>(state.range(0));
    const std::vector<float> samples = DriftScan(n);
    const ScaledBlock block = ScaleSamples(samples.data(), n, kLeftScalingSeed);
    std::vector<int16_t> out(samples.size());
    for (auto _ : state) {
        scale(samples, n, block, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_ScaleValuesReversed(benchmark::State& state) {
    ScaleValues(state, [](const std::vector<float>& samples, int32_t n, const ScaledBlock& block,
                          std::vector<int16_t>& out) {
        ScaleValuesReversed(samples.data(), n, block.bzero, block.bscale, out.data());
    });
}
BENCHMARK(BM_ScaleValuesReversed)->Apply(SampleCounts);

void BM_ScaledValuePlainRule(benchmark::State& state) {
    ScaleValues(state, [](const std::vector<float>& samples, int32_t n, const ScaledBlock& block,
                          std::vector<int16_t>& out) {
        for (int32_t i = 0; i < n; ++i)
            out[static_cast<std::size_t>(n - 1 - i)] =
                ScaledValue(samples[static_cast<std::size_t>(i)], block.bzero, block.bscale);
    });
}
BENCHMARK(BM_ScaledValuePlainRule)->Apply(SampleCounts);

}  // namespace

// Building one scan file in memory: the cards and both data blocks.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "output/scan_output.h"

namespace {

void BM_ScanFileBytes(benchmark::State& state) {
    const auto n = static_cast<int32_t>(state.range(0));
    ObservationHeader header;
    header.setup.day = 5;
    header.setup.month = 11;
    header.setup.year = 2003;
    header.setup.objectName = "SUN";
    header.receiver.channelFrequency[7] = 9.1;
    header.receiver.pmc = 4000.5f;
    PointingValues pointing{10.5f, 45.25f, 12.5f, 0.0996f};
    ScanChannel channel;
    channel.channel = 7;
    channel.sampleCount = n;
    channel.calibrationStep = 12.3f;
    channel.fluxFactor = 3.5f;
    channel.quietSunTemperature = 11500;
    channel.beamWidth = 17.5f;
    const std::vector<float> samples = DriftScan(n);
    channel.left = ScaleSamples(samples.data(), n, kLeftScalingSeed);
    channel.right = ScaleSamples(samples.data(), n, kRightScalingSeed);
    for (auto _ : state) {
        std::string bytes = ScanFileBytes(header, pointing, 0, channel);
        benchmark::DoNotOptimize(bytes.data());
    }
    // Both polarisations' samples.
    state.SetItemsProcessed(state.iterations() * 2 * n);
}
BENCHMARK(BM_ScanFileBytes)->Apply(SampleCounts);

}  // namespace

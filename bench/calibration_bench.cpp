// One calibration lookup in a 40-row table, read from its file as the
// converter does for every channel.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inputs/calibration.h"

namespace {

// A folder holding a 40-row table from 20 GHz down to 0.5 GHz.
class TableFolder {
public:
    TableFolder() {
        char pattern[] = "/tmp/vmfits-bench-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
        std::FILE* file = std::fopen(CalibrationTablePath(path_).c_str(), "w");
        if (!file) return;
        for (int row = 0; row < 40; ++row) {
            const double frequency = 20.0 - 0.5 * row;
            std::fprintf(file, "%.2f %.4f %d %.1f\n", frequency, 2.0 + 0.1 * row, 10000 + 50 * row,
                         10.0 + 600.0 / frequency);
        }
        ok_ = std::fclose(file) == 0;
    }
    ~TableFolder() {
        std::remove(CalibrationTablePath(path_).c_str());
        rmdir(path_.c_str());
    }
    TableFolder(const TableFolder&) = delete;
    TableFolder& operator=(const TableFolder&) = delete;
    bool ok() const { return ok_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool ok_ = false;
};

void BM_LookupCalibration(benchmark::State& state) {
    const TableFolder folder;
    if (!folder.ok()) {
        state.SkipWithError("cannot write the calibration table");
        return;
    }
    // Frequencies that stop the search at the first, middle and last rows.
    const float frequencies[] = {19.9f, 10.2f, 0.7f};
    std::size_t next = 0;
    for (auto _ : state) {
        float flux = 0.0f, beam = 0.0f;
        int16_t temperature = 0;
        LookupCalibration(folder.path(), frequencies[next], flux, temperature, beam);
        next = (next + 1) % 3;
        benchmark::DoNotOptimize(flux);
        benchmark::DoNotOptimize(temperature);
        benchmark::DoNotOptimize(beam);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupCalibration);

}  // namespace

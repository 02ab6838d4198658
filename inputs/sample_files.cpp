#include "inputs/sample_files.h"

#include <algorithm>
#include <cstdio>

#include "inputs/little_endian.h"

bool ReadInputFile(const std::string& path, std::size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::vector<uint8_t> chunk(1 << 16);
    while (bytes.size() < limit) {
        const std::size_t want = std::min(chunk.size(), limit - bytes.size());
        const std::size_t got = std::fread(chunk.data(), 1, want, file);
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < want) break;
    }
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    return !readFailed;
}

void TakeSamples(const std::vector<uint8_t>& bytes, std::vector<float>& samples) {
    const std::size_t count = std::min(samples.size(), bytes.size() / 4);
    for (std::size_t i = 0; i < count; ++i) samples[i] = LoadF32(&bytes[4 * i]);
}

std::vector<int16_t> DecodeMarkers(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> markers(bytes.size() / 2);
    for (std::size_t i = 0; i < markers.size(); ++i)
        markers[i] = LoadI16(&bytes[2 * i]);
    return markers;
}

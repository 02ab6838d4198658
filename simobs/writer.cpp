#include "simobs/writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "inputs/sample_files.h"
#include "simobs/truth.h"

namespace {

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

void PutFloat(std::vector<uint8_t>& out, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(bits >> (8 * k)));
}

// The al<N> and ar<N> files: the model times the gain in force at each sample,
// plus noise. Sample files of channels that are not written are removed.
bool WriteSamples(const SimulatorOptions& o, const Scan& scan, const std::vector<Channel>& channels,
                  const std::vector<Marker>& markers, std::string& error) {
    const int nc = static_cast<int>(channels.size());
    std::error_code failure;
    for (int c = 0; c < kChannelCount; ++c) {
        if (c >= nc) std::filesystem::remove(o.out + "/" + SampleFileName(SampleFileKind::Al, c), failure);
        if (c >= nc || channels[c].missingAr)
            std::filesystem::remove(o.out + "/" + SampleFileName(SampleFileKind::Ar, c), failure);
    }
    for (int c = 0; c < nc; ++c) {
        const Channel& ch = channels[c];
        Random noise[2] = {Stream(o.seed, kNoise, static_cast<uint64_t>(c), 0),
                           Stream(o.seed, kNoise, static_cast<uint64_t>(c), 1)};
        std::vector<uint8_t> bytes[2];
        double level[2] = {1.0, 1.0};
        std::size_t next = 0;
        for (int i = 0; i < scan.n; ++i) {
            double value[2];
            ModelSamples(scan, ch, i, value);
            double g[2] = {level[0], level[1]};
            for (; next < markers.size() && markers[next].position == i; ++next) {
                for (int pol = 0; pol < 2; ++pol) {
                    const double after = level[pol] * markers[next].factor[pol][c];
                    g[pol] = 0.5 * (level[pol] + after);  // the marked sample catches the switch
                    level[pol] = after;
                }
            }
            for (int pol = 0; pol < 2; ++pol) {
                const double noisy = value[pol] + ch.gain[pol] * ch.noise[pol] * Gaussian(noise[pol]);
                PutFloat(bytes[pol], static_cast<float>(g[pol] * noisy));
            }
        }
        if (ch.shortAr) bytes[1].resize(4 * static_cast<std::size_t>(scan.n / 2));
        for (int pol = 0; pol < 2; ++pol) {
            if (pol == 1 && ch.missingAr) continue;
            const std::string path =
                o.out + "/" + SampleFileName(pol == 0 ? SampleFileKind::Al : SampleFileKind::Ar, c);
            if (!WriteBytes(path, bytes[pol])) {
                error = "cannot write " + path;
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool WriteTextFile(const std::string& path, const std::string& text) {
    return WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool WriteRecording(const SimulatorOptions& o, const SimulatedRecording& recording,
                    std::string& base, std::string& error) {
    const std::vector<Marker>& markers = recording.markers;
    std::error_code failure;
    std::filesystem::create_directories(o.out, failure);
    if (!std::filesystem::is_directory(o.out, failure)) {
        error = "cannot create the folder " + o.out;
        return false;
    }
    char stem[64];
    std::snprintf(stem, sizeof stem, "%s.%02d", o.name.c_str(), o.scan);
    base = o.out + "/" + stem;
    if (!WriteBytes(base + "h", EncodeObservationHeader(recording.header))) {
        error = "cannot write " + base + "h";
        return false;
    }
    std::vector<int16_t> markerValues;
    for (const Marker& m : markers) markerValues.insert(markerValues.end(), {static_cast<int16_t>(m.position), m.tag});
    if (!WriteBytes(base + "p", EncodeMarkers(markerValues))) {
        error = "cannot write " + base + "p";
        return false;
    }
    if (!WriteSamples(o, recording.scan, recording.channels, markers, error)) return false;
    const std::string truth = TruthJson(o, recording);
    if (!WriteBytes(base + "-truth.json", std::vector<uint8_t>(truth.begin(), truth.end()))) {
        error = "cannot write " + base + "-truth.json";
        return false;
    }
    const std::string table = CalibrationTableText();
    if (o.cfg && !WriteBytes(o.out + "/vm-fits.cfg", std::vector<uint8_t>(table.begin(), table.end()))) {
        error = "cannot write " + o.out + "/vm-fits.cfg";
        return false;
    }

    return true;
}

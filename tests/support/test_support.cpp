#include "support/test_support.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "inputs/observation_header.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

// Tests compute with the same arithmetic as the converter.
struct ArithmeticSetup {
    ArithmeticSetup() { PlatformInitialiseArithmetic(); }
} gArithmeticSetup;

}  // namespace

TempFolder::TempFolder() {
    std::random_device device;
    std::mt19937_64 random(device());
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("vmfits-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TempFolder::operator/(const std::string& name) const {
    return path_ + kFolderSeparator + name;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string FloatBytes(const std::vector<float>& values) {
    std::string bytes;
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string Int16Bytes(const std::vector<int16_t>& values) {
    std::string bytes;
    for (int16_t v : values) {
        const auto u = static_cast<uint16_t>(v);
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    return bytes;
}

void SetUsualRecordingFields(ObservationHeader& header) {
    header.setup.day = 5;
    header.setup.month = 11;
    header.setup.year = 2003;
    header.setup.objectName = "SUN A15";
    header.setup.calibrationLevels[1] = 100;
    header.setup.calibrationLevels[9] = 223;
    header.setup.calibrationLevels[10] = -5;
    header.receiver.samplingFactor1 = 10;
    header.receiver.samplingFactor2 = 99;
    header.receiver.angleP = 12.5f;
    header.receiver.pmc = 400.5f;
    header.pointing.azimuthDms = {10, 30, 0.0f};
    header.pointing.altitudeDms = {45, 15, 0.0f};
    header.pointing.observationTime = {9, 5, 7.25f};
    header.pointing.solarRadius = 961;
}

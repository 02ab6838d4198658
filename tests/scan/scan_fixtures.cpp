#include "scan/scan_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "convert/pointing.h"
#include "inputs/observation_header.h"
#include "output/scan_output.h"

namespace fs = std::filesystem;

void Simulate(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{VMFITS_TOOLS_DIR "/vm-simobs"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const ProcessResult r = RunProcess(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

ProcessResult Convert(const TempFolder& home, const std::string& header, const std::string& out,
                      const std::string& table, const std::vector<std::string>& extra) {
    const std::string bin = home / (table.empty() ? "bin-without-table" : "bin");
    fs::create_directories(bin);
    const std::string program = bin + "/vm-fits";
    if (!fs::exists(program)) fs::copy_file(VMFITS_BINARY, program);
    if (!table.empty()) fs::copy_file(table, bin + "/vm-fits.cfg", fs::copy_options::overwrite_existing);
    ProcessOptions options;
    options.setEnv["XDG_CONFIG_HOME"] = home / "config";
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    std::vector<std::string> argv{program, header, out};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return RunProcess(argv, options);
}

std::map<std::string, std::string> FolderContents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    if (!fs::exists(folder)) return contents;
    for (const auto& entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return contents;
}

std::string MadeScanFile(int n, const std::string& objectName) {
    ObservationHeader header;
    header.setup.day = 5;
    header.setup.month = 11;
    header.setup.year = 2003;
    header.setup.objectName = objectName;
    header.receiver.channelFrequency[3] = 12.5;
    header.receiver.pmc = 7.5f;
    header.pointing.observationTime = {9, 5, 7.25f};
    header.pointing.solarRadius = 961;
    PointingValues pointing;
    pointing.altitude = 45.25f;
    pointing.angleP = 12.5f;
    pointing.step = 2.5f;
    AzimuthFromObjectName(objectName, pointing.azimuth);  // as the run's plan does
    ScanChannel channel;
    channel.channel = 3;
    channel.sampleCount = n;
    channel.calibrationStep = 12.3f;
    channel.fluxFactor = 3.5f;
    channel.quietSunTemperature = 11500;
    channel.beamWidth = 17.5f;
    std::vector<float> left, right;
    for (int i = 0; i < n; ++i) {
        left.push_back(static_cast<float>(i * i) / 4.0f);
        right.push_back(static_cast<float>((i * 37) % 23) - 11.0f);
    }
    channel.left = ScaleSamples(left.data(), n, kLeftScalingSeed);
    channel.right = ScaleSamples(right.data(), n, kRightScalingSeed);
    return ScanFileBytes(header, pointing, 0, channel);
}

std::vector<std::vector<double>> CsvRows(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);  // heading
    while (std::getline(lines, line)) {
        std::vector<double> row;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

std::string AstropyPython() {
    const std::string python = "/usr/bin/python3";
    if (!FileExists(python)) return std::string();
    const ProcessResult r = RunProcess({python, "-c", "import astropy.io.fits, astropy.wcs"});
    return r.exitCode == 0 ? python : std::string();
}

// A recording's entry, from its header and its calibrated scan files.
#include <cstdio>
#include <sstream>

#include "calibrate/whole_sun.h"
#include "catalog/catalog.h"
#include "scan/calibrated_run.h"

namespace {

// "YYYY-MM-DDTHH:MM:SS.SS" from the header's date and UT.
std::string ObservedTime(const ObservationHeader& header) {
    const TimeOfDay& t = header.pointing.observationTime;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%05.2f", header.setup.year, header.setup.month,
                  header.setup.day, t.hour, t.minute, static_cast<double>(t.second));
    return text;
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a refusal says without the path it starts with.
std::string WithoutPath(const std::string& path, const std::string& reason) {
    if (reason.rfind(path + ": ", 0) == 0) return reason.substr(path.size() + 2);
    return reason;
}

}  // namespace

RecordingOptions RecordingOptionsOf(const CatalogInput& input) {
    RecordingOptions options;
    options.headerPath = input.headerPath;
    options.thirdArgument = input.back;
    options.tablePath = input.tablePath;
    return options;
}

CatalogRecording MakeCatalogRecording(const CatalogInput& input) {
    ScanRecording recording;
    std::string error;
    if (!LoadScanRecording(RecordingOptionsOf(input), recording, error))
        return CatalogRecordingOfRun(input, nullptr, error, nullptr);
    if (input.status == "failed") return CatalogRecordingOfRun(input, &recording, "", nullptr);
    std::ostringstream notes;  // the refusals are kept in the entry
    CalibratedRun run;
    CalibrateRun(input.scanFiles, recording, 0, run, notes);
    return CatalogRecordingOfRun(input, &recording, "", &run);
}

CatalogRecording CatalogRecordingOfRun(const CatalogInput& input, const ScanRecording* loaded,
                                       const std::string& loadError, const CalibratedRun* run) {
    CatalogRecording r;
    r.header = input.header;
    r.output = input.output;
    r.status = input.status;
    r.reason = input.reason;
    r.warnings = input.warnings;
    r.observed = "0000-00-00T00:00:00.00";
    if (loaded == nullptr) {
        if (r.status != "failed") {
            r.status = "failed";
            r.reason = loadError;
        }
        return r;
    }
    const ScanRecording& recording = *loaded;
    const ObservationHeader& header = recording.explanation.header;
    r.observed = ObservedTime(header);
    r.object = header.setup.objectName;
    r.angleP = static_cast<double>(header.receiver.angleP);
    r.solarRadius = header.pointing.solarRadius;
    if (r.status == "failed" || run == nullptr) return r;
    const std::vector<CalibratedScan>& scans = run->scans;
    const std::vector<RefusedScan>& refused = run->refused;
    const std::vector<ScanSources>& found = run->found;
    const std::vector<SourceTrack>& tracks = run->tracks;
    // The scan files in the scan index's order; refused ones by their name.
    for (const std::string& path : input.scanFiles) {
        CatalogScanFile file;
        file.name = FileName(path);
        for (const ChannelPlan& channel : recording.explanation.channels) {
            if (channel.scanFileName != file.name) continue;
            file.channel = channel.channel;
            file.frequency = channel.frequency;
            if (channel.calibrationLooked && channel.calibration.result == CalibrationResult::Found) {
                const CalibrationValues& v = channel.calibration.values;
                file.beamWidth = static_cast<double>(v.beamWidth);
                file.fluxFactor = static_cast<double>(v.fluxFactor);
                file.quietTemperature = v.quietSunTemperature;
            }
        }
        for (const RefusedScan& refusal : refused)
            if (refusal.name == path || FileName(refusal.name) == file.name) file.refusal = WithoutPath(path, refusal.reason);
        for (std::size_t i = 0; i < scans.size(); ++i) {
            const CalibratedScan& scan = scans[i];
            if (scan.name != path) continue;
            const ScanCalibration& c = scan.calibration;
            file.calibrated = true;
            for (int p = 0; p < 2; ++p) {
                file.gain[p] = c.gain[p];
                file.quiet[p] = c.fits[p].quiet;
                file.quietError[p] = c.fits[p].quietError;
            }
            for (const WholeSunFlux& flux : run->fluxes) {
                if (flux.name != scan.name) continue;
                file.hasFlux = true;
                file.flux = flux.flux;
                file.fluxError = flux.fluxError;
            }
            for (std::size_t k = 0; k < found.size(); ++k) {
                if (found[k].name != scan.name) continue;
                for (std::size_t s = 0; s < found[k].sources.size(); ++s) {
                    const ScanSource& src = found[k].sources[s];
                    CatalogSource out;
                    for (std::size_t t = 0; t < tracks.size(); ++t)
                        for (const auto& point : tracks[t].points)
                            if (point.first == k && point.second == s) out.track = static_cast<int>(t);
                    out.offset = src.shape.position;
                    out.offsetError = src.shape.positionError;
                    out.width = src.shape.width;
                    out.widthError = src.shape.widthError;
                    out.peak = src.shape.peak;
                    out.peakError = src.shape.peakError;
                    out.flux = src.flux;
                    out.fluxError = src.fluxError;
                    out.vOverI = src.vOverI;
                    out.vOverIError = src.vOverIError;
                    out.significance = src.significance;
                    file.sources.push_back(out);
                }
            }
        }
        r.scanFiles.push_back(file);
    }
    return r;
}

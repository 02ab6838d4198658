#include "scan/calibrated_run.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "platform/paths.h"
#include "scan/recording_facts.h"

namespace {

// The refusals that come from the recording rather than from the scan file
// itself: a scan file the recording does not give, and one that the
// recording's warnings concern (its values may be other than recorded; a
// warning about names alone refuses nothing).
bool RecordingAllows(const ScanRecording& recording, const std::string& scanPath, const ScanFileContents& scan,
                     std::string& error) {
    if (!recording.given) return true;
    ScanFileQuality quality;
    if (!QualityOfScanFile(recording.explanation, FileNameOfPath(scanPath), scan, quality, error)) {
        error = scanPath + ": " + error;
        return false;
    }
    std::string concerns;
    for (const RunWarning& warning : quality.warnings)
        if (WarningConcernsValues(warning)) concerns += (concerns.empty() ? "" : "; ") + WarningLine(warning);
    if (concerns.empty()) return true;
    error = scanPath + ": refused, the recording warns of it: " + concerns;
    return false;
}

// What one scan file came to: calibrated, or the reason it was refused.
struct Calibrated {
    CalibratedScan scan;
    bool refused = false;
    std::string error;
    std::exception_ptr failure;  // what was thrown, thrown again in the calling thread
};

}  // namespace

bool LoadScanRecording(const RecordingOptions& options, ScanRecording& recording, std::string& error) {
    if (options.headerPath.empty()) {
        recording.tableAlone = options.tablePath;
        return true;
    }
    recording.given = true;
    return PlanRecordingOfScanFiles(options.headerPath, options.thirdArgument, options.tablePath,
                                    recording.explanation, error);
}

bool CalibrateScanFile(const std::string& path, const ScanRecording& recording, CalibratedScan& s, std::string& error) {
    s.name = path;
    return ReadScanFile(path, s.scan, error) && CalibrateScanContents(recording, s, error);
}

bool CalibrateScanContents(const ScanRecording& recording, CalibratedScan& s, std::string& error) {
    const std::string& path = s.name;
    if (!RecordingAllows(recording, path, s.scan, error)) return false;
    if (recording.given &&
        !RecordingFactsOfScanFile(recording.explanation, FileNameOfPath(path), s.scan, s.facts, error)) {
        error = path + ": " + error;
        return false;
    }
    if (!recording.tableAlone.empty()) {
        s.facts.fluxFactor = TableFluxFactor(recording.tableAlone, s.scan.obsFreq);
        s.facts.beamWidth = TableBeamWidth(recording.tableAlone, s.scan.obsFreq);
    }
    return CalibrateScan(s.scan, path, ProfileSettings(), s.facts, s.calibration, error);
}

void RefuseScanFile(const std::string& path, const std::string& error, std::vector<RefusedScan>& refused, std::ostream& err) {
    err << error << "\n";
    const std::string prefix = path + ": ";
    refused.push_back({path, error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error});
}

void CalibrateScanFiles(const std::vector<std::string>& paths, const ScanRecording& recording, unsigned jobs,
                  std::vector<CalibratedScan>& scans, std::vector<RefusedScan>& refused, std::ostream& err) {
    std::vector<Calibrated> slots(paths.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&]() {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                slots[i].refused = !CalibrateScanFile(paths[i], recording, slots[i].scan, slots[i].error);
            } catch (...) {
                slots[i].failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 1; w < CalibrationWorkers(jobs, paths.size()); ++w) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    for (Calibrated& slot : slots) {
        if (slot.failure) std::rethrow_exception(slot.failure);
        if (slot.refused) {
            RefuseScanFile(slot.scan.name, slot.error, refused, err);
            continue;
        }
        scans.push_back(std::move(slot.scan));
    }
}

bool FindRunSources(const std::vector<CalibratedScan>& scans, std::vector<ScanSources>& found,
                    std::vector<SourceTrack>& tracks, std::vector<RefusedScan>& refused, std::ostream& err) {
    bool allReported = true;
    for (const CalibratedScan& s : scans) {
        ScanSources sources;
        std::string error;
        if (!FindScanSources(s.scan, s.name, s.calibration, s.facts, sources, error)) {
            RefuseScanFile(s.name, error, refused, err);
            continue;
        }
        for (const RejectedSource& r : sources.rejected) err << s.name << ": " << r.reason << "\n";
        allReported = allReported && sources.rejected.empty();
        found.push_back(std::move(sources));
    }
    tracks = TrackSources(found);
    return allReported;
}

void MeasureRunFluxes(const std::vector<CalibratedScan>& scans, std::vector<WholeSunFlux>& fluxes,
                      std::vector<RefusedScan>& refused, std::ostream& err) {
    for (const CalibratedScan& s : scans) {
        WholeSunFlux flux;
        std::string error;
        if (MeasureWholeSunFlux(s.scan, s.name, s.calibration, s.facts, flux, error))
            fluxes.push_back(std::move(flux));
        else
            RefuseScanFile(s.name, error, refused, err);
    }
}

void CalibrateRun(const std::vector<std::string>& paths, const ScanRecording& recording, unsigned jobs,
                  CalibratedRun& run, std::ostream& err) {
    run = CalibratedRun();
    CalibrateScanFiles(paths, recording, jobs, run.scans, run.refused, err);
    run.allSourcesReported = FindRunSources(run.scans, run.found, run.tracks, run.noSources, err);
    MeasureRunFluxes(run.scans, run.fluxes, run.noFlux, err);
}

unsigned CalibrationWorkers(unsigned jobs, std::size_t scanFiles) {
    std::size_t workers = jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
    if (scanFiles > 0) workers = std::min(workers, scanFiles);
    return static_cast<unsigned>(workers);
}

#include "scan/calibrate_commands.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "calibrate/source_table.h"
#include "scan/calibrated_pictures.h"
#include "scan/explain.h"
#include "scan/fits_export.h"
#include "platform/paths.h"
#include "scan/recording_facts.h"
#include "scan/scan_file_commands.h"
#include "scan/scan_quality.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRecording = 2;

// The recording of --recording, read once; or the table of --cfg alone.
struct Recording {
    bool given = false;
    RecordingExplanation explanation;
    std::string tableAlone;  // --cfg without --recording
};

bool LoadRecording(const RecordingOptions& check, Recording& recording, std::ostream& err) {
    if (check.headerPath.empty()) {
        recording.tableAlone = check.tablePath;
        return true;
    }
    recording.given = true;
    std::string error;
    if (PlanRecordingOfScanFiles(check.headerPath, check.thirdArgument, check.tablePath, recording.explanation,
                                 error))
        return true;
    err << error << "\n";
    return false;
}

// The refusals that come from the recording rather than from the scan file
// itself: a scan file the recording does not give, and one that the
// recording's warnings concern (its values may be other than recorded; a
// warning about names alone refuses nothing).
bool RecordingAllows(const Recording& recording, const std::string& scanPath, const ScanFileContents& scan,
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

// What went wrong with a scan file, named on `err` and kept for pictures and
// tables without the path it starts with.
void Refuse(const std::string& path, const std::string& error, std::vector<RefusedScan>& refused, std::ostream& err) {
    err << error << "\n";
    const std::string prefix = path + ": ";
    refused.push_back({path, error.compare(0, prefix.size(), prefix) == 0 ? error.substr(prefix.size()) : error});
}

// The scan files: the given ones, or those of the index.
bool PathsOf(const std::vector<std::string>& files, const std::string& indexPath, std::vector<std::string>& paths,
             std::ostream& err) {
    paths = files;
    if (indexPath.empty()) return true;
    std::vector<ScanIndexEntry> entries;
    std::string error;
    if (!ReadScanIndex(indexPath, entries, error)) {
        err << error << "\n";
        return false;
    }
    for (const std::string& path : ScanFilePathsOfIndex(indexPath, entries)) paths.push_back(path);
    return true;
}

// What one scan file came to: calibrated, or the reason it was refused.
struct Calibrated {
    CalibratedScan scan;
    bool refused = false;
    std::string error;
    std::exception_ptr failure;  // what was thrown, thrown again in the calling thread
};

// Reads and calibrates one scan file, with the facts its recording gives;
// false with the reason it is refused.
bool CalibrateOne(const std::string& path, const Recording& recording, CalibratedScan& s, std::string& error) {
    s.name = path;
    if (!ReadScanFile(path, s.scan, error) || !RecordingAllows(recording, path, s.scan, error)) return false;
    if (recording.given &&
        !RecordingFactsOfScanFile(recording.explanation, FileNameOfPath(path), s.scan, s.facts, error)) {
        error = path + ": " + error;
        return false;
    }
    if (!recording.tableAlone.empty()) s.facts.fluxFactor = TableFluxFactor(recording.tableAlone, s.scan.obsFreq);
    return CalibrateScan(s.scan, path, ProfileSettings(), s.facts, s.calibration, error);
}

// Reads and calibrates every scan file, `jobs` at a time, each worker taking
// the next file not yet taken and writing into that file's own slot. The
// recording is only read. Then, in the files' order, the refused ones are
// named and the others kept: the same as one after the other.
void CalibrateAll(const std::vector<std::string>& paths, const Recording& recording, unsigned jobs,
                  std::vector<CalibratedScan>& scans, std::vector<RefusedScan>& refused, std::ostream& err) {
    std::vector<Calibrated> slots(paths.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&]() {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                slots[i].refused = !CalibrateOne(paths[i], recording, slots[i].scan, slots[i].error);
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
            Refuse(slot.scan.name, slot.error, refused, err);
            continue;
        }
        scans.push_back(std::move(slot.scan));
    }
}

// The recording loaded and every scan file of the index calibrated (the
// refused ones named): 0, or the exit code when the recording or the index
// cannot be read.
int CalibratedIndex(const std::string& indexPath, const RecordingOptions& check, unsigned jobs,
                    std::vector<CalibratedScan>& scans, std::vector<RefusedScan>& refused, std::ostream& err) {
    Recording recording;
    if (!LoadRecording(check, recording, err)) return kExitRecording;
    std::vector<std::string> paths;
    if (!PathsOf({}, indexPath, paths, err)) return kExitFailed;
    CalibrateAll(paths, recording, jobs, scans, refused, err);
    return 0;
}

// The sources of every calibrated scan file, and the tracks through them;
// the sources left out for their V/I are named. False when one is.
bool FindAllSources(const std::vector<CalibratedScan>& scans, std::vector<ScanSources>& found,
                    std::vector<SourceTrack>& tracks, std::vector<RefusedScan>& refused, std::ostream& err) {
    bool allReported = true;
    for (const CalibratedScan& s : scans) {
        ScanSources sources;
        std::string error;
        if (!FindScanSources(s.scan, s.name, s.calibration, s.facts, sources, error)) {
            Refuse(s.name, error, refused, err);
            continue;
        }
        for (const RejectedSource& r : sources.rejected) err << s.name << ": " << r.reason << "\n";
        allReported = allReported && sources.rejected.empty();
        found.push_back(std::move(sources));
    }
    tracks = TrackSources(found);
    return allReported;
}

std::vector<float> Floats(const std::vector<double>& values) { return std::vector<float>(values.begin(), values.end()); }

FitsPlanes CalibratedPlanes(const ScanCalibration& c, bool stokesIV) {
    FitsPlanes planes;
    if (stokesIV) {
        planes.planes = {{1, "I = (RR + LL) / 2, antenna temperature", Floats(c.stokesI)},
                         {4, "then V = (RR - LL) / 2", Floats(c.stokesV)}};
    } else {
        planes.planes = {{-1, "RR: the al block (POLARIZ 1), calibrated", Floats(c.temperature[kRR])},
                         {-2, "then LL: the ar block (POLARIZ 0), calibrated", Floats(c.temperature[kLL])}};
    }
    planes.unit = "K";
    planes.unitComment = "antenna temperature";
    planes.history = {"points in the scan file's order; antenna temperature per polarisation",
                      "T = (v - sky) * TQSUN / quiet, v = stored value * BSCALE + BZERO,",
                      "sky: a straight line through the points beyond the limbs,",
                      "quiet: a uniform disk seen through the beam, sources fitted apart"};
    for (const int p : {kRR, kLL}) {
        const ProfileFit& fit = c.fits[static_cast<std::size_t>(p)];
        const std::string name = CalibratedPolarisationName(p);
        planes.cards.push_back({name + "SKY", "sky of " + name + " at offset 0 [recorder units]", fit.skyLevel});
        planes.cards.push_back({name + "SKYSL", "sky slope of " + name + " [recorder units/arcsec]", fit.skySlope});
        planes.cards.push_back({name + "QUIET", "quiet Sun of " + name + " over the sky [recorder units]", fit.quiet});
        planes.cards.push_back({name + "GAIN", "gain of " + name + ": quiet / TQSUN [recorder units/K]",
                                c.gain[static_cast<std::size_t>(p)]});
    }
    planes.cards.push_back({"DISKRAD", "radius of the quiet disk fitted to I [arcsec]", c.fits[kRR].radius});
    planes.cards.push_back({"DISKCEN", "offset of the disk centre [arcsec]", c.fits[kRR].centre});
    return planes;
}

}  // namespace

int CalibrateCommand(const CalibrateOptions& options, std::ostream& out, std::ostream& err) {
    Recording recording;
    if (!LoadRecording(options.recording, recording, err)) return kExitRecording;
    std::vector<std::string> paths;
    if (!PathsOf(options.scanFiles, options.indexPath, paths, err)) return kExitFailed;
    if (!options.indexPath.empty() && paths.empty()) out << options.indexPath << " lists no scan files\n";
    std::string date = CurrentInstant();
    if (options.sourceDateEpochSet && !EpochInstant(options.sourceDateEpoch, date)) {
        err << "SOURCE_DATE_EPOCH '" << options.sourceDateEpoch
            << "' is not a whole number of seconds up to the year 9999\n";
        return kExitFailed;
    }
    std::error_code ignored;
    std::filesystem::create_directories(options.outputFolder, ignored);
    if (!std::filesystem::is_directory(options.outputFolder, ignored)) {
        err << "Can't create " << options.outputFolder << "\n";
        return kExitFailed;
    }
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    CalibrateAll(paths, recording, options.jobs, scans, refused, err);
    bool allWritten = refused.empty();
    std::map<std::string, std::string> written;  // FITS name -> scan file it came from
    for (const CalibratedScan& s : scans) {
        const std::string name = FileNameOfPath(s.name) + ".K.fits";
        const std::string fitsPath = options.outputFolder + "/" + name;
        std::string error;
        if (written.count(name)) error = s.name + ": " + fitsPath + " was already written from " + written[name];
        if (error.empty() && WriteScanFits(s.scan, CalibratedPlanes(s.calibration, options.stokesIV), s.name,
                                           fitsPath, date, nullptr, recording.given, error)) {
            written[name] = s.name;
            out << "wrote " << fitsPath << "\n";
            continue;
        }
        err << error << "\n";
        allWritten = false;
    }
    return allWritten ? 0 : kExitFailed;
}

int CalibratedDataCommand(const std::string& scanPath, const RecordingOptions& check, std::ostream& out,
                          std::ostream& err) {
    Recording recording;
    if (!LoadRecording(check, recording, err)) return kExitRecording;
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    CalibrateAll({scanPath}, recording, 1, scans, refused, err);
    if (scans.empty()) return kExitFailed;
    const ScanCalibration& c = scans[0].calibration;
    // vm-scan data's own rows, each with the temperatures added.
    std::ostringstream data;
    WriteData(scans[0].scan, data);
    std::istringstream lines(data.str());
    std::string line;
    std::getline(lines, line);
    out << line << ",t_rr_k,t_ll_k,i_k,v_k\n";
    char more[160];
    for (std::size_t i = 0; std::getline(lines, line) && i < c.offsets.size(); ++i) {
        std::snprintf(more, sizeof more, ",%.9g,%.9g,%.9g,%.9g", static_cast<double>(static_cast<float>(c.temperature[kRR][i])),
                      static_cast<double>(static_cast<float>(c.temperature[kLL][i])),
                      static_cast<double>(static_cast<float>(c.stokesI[i])), static_cast<double>(static_cast<float>(c.stokesV[i])));
        out << line << more << "\n";
    }
    return 0;
}

int SourcesCommand(const SourcesOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    if (const int code = CalibratedIndex(options.indexPath, options.recording, options.jobs, scans, refused, err))
        return code;
    std::vector<ScanSources> found;
    std::vector<SourceTrack> tracks;
    const bool allReported = FindAllSources(scans, found, tracks, refused, err);
    out << (options.json ? SourcesJson(options.indexPath, found, tracks, refused) : SourcesCsv(found, tracks));
    return refused.empty() && allReported ? 0 : kExitFailed;
}

int SpectrumCommand(const std::string& indexPath, const RecordingOptions& check, unsigned jobs,
                    const PictureOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    if (const int code = CalibratedIndex(indexPath, check, jobs, scans, refused, err)) return code;
    std::vector<ScanSources> found;
    std::vector<SourceTrack> tracks;
    const bool allReported = FindAllSources(scans, found, tracks, refused, err);
    PlotPicture picture;
    std::string error;
    if (scans.empty()) {
        err << indexPath << ": no scan file could be calibrated\n";
        return kExitFailed;
    }
    if (!SpectrumPicture(found, tracks, refused, scans[0].scan, picture, error)) {
        err << indexPath << ": " << error << "\n";
        return kExitFailed;
    }
    if (WrittenPicture(picture, options, out, err) != 0) return kExitFailed;
    return refused.empty() && allReported ? 0 : kExitFailed;
}

int CalibratedOverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                              const RecordingOptions& check, unsigned jobs, const PictureOptions& options,
                              std::ostream& out, std::ostream& err) {
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    if (const int code = CalibratedIndex(indexPath, check, jobs, scans, refused, err)) return code;
    PlotPicture picture;
    std::string error;
    if (!CalibratedOverviewPicture(scans, refused, polarisation, picture, error)) {
        err << indexPath << ": " << error << "\n";
        return kExitFailed;
    }
    if (WrittenPicture(picture, options, out, err) != 0) return kExitFailed;
    return refused.empty() ? 0 : kExitFailed;
}

unsigned CalibrationWorkers(unsigned jobs, std::size_t scanFiles) {
    std::size_t workers = jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
    if (scanFiles > 0) workers = std::min(workers, scanFiles);
    return static_cast<unsigned>(workers);
}

#include "scan/calibrate_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "calibrate/source_table.h"
#include "scan/calibrated_pictures.h"
#include "scan/calibrated_run.h"
#include "scan/explain.h"
#include "scan/fits_export.h"
#include "platform/paths.h"
#include "scan/scan_file_commands.h"
#include "scan/scan_quality.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitRecording = 2;

bool LoadRecording(const RecordingOptions& check, ScanRecording& recording, std::ostream& err) {
    std::string error;
    if (LoadScanRecording(check, recording, error)) return true;
    err << error << "\n";
    return false;
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

// The recording loaded and every scan file of the index calibrated (the
// refused ones named): 0, or the exit code when the recording or the index
// cannot be read.
int CalibratedIndex(const std::string& indexPath, const RecordingOptions& check, unsigned jobs,
                    std::vector<CalibratedScan>& scans, std::vector<RefusedScan>& refused, std::ostream& err) {
    ScanRecording recording;
    if (!LoadRecording(check, recording, err)) return kExitRecording;
    std::vector<std::string> paths;
    if (!PathsOf({}, indexPath, paths, err)) return kExitFailed;
    CalibrateScanFiles(paths, recording, jobs, scans, refused, err);
    return 0;
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
    ScanRecording recording;
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
    CalibrateScanFiles(paths, recording, options.jobs, scans, refused, err);
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
    ScanRecording recording;
    if (!LoadRecording(check, recording, err)) return kExitRecording;
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    CalibrateScanFiles({scanPath}, recording, 1, scans, refused, err);
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
    const bool allReported = FindRunSources(scans, found, tracks, refused, err);
    out << (options.json ? SourcesJson(options.indexPath, found, tracks, refused) : SourcesCsv(found, tracks));
    return refused.empty() && allReported ? 0 : kExitFailed;
}

int FluxCommand(const SourcesOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    if (const int code = CalibratedIndex(options.indexPath, options.recording, options.jobs, scans, refused, err))
        return code;
    std::vector<WholeSunFlux> fluxes;
    MeasureRunFluxes(scans, fluxes, refused, err);
    out << (options.json ? WholeSunJson(options.indexPath, fluxes, refused) : WholeSunCsv(fluxes));
    return refused.empty() ? 0 : kExitFailed;
}

bool SpectrumOfScans(const std::vector<CalibratedScan>& scans, const std::vector<ScanSources>& found,
                     const std::vector<SourceTrack>& tracks, const std::vector<RefusedScan>& refused,
                     PlotPicture& picture, std::string& error) {
    if (scans.empty()) {
        error = "no scan file could be calibrated";
        return false;
    }
    return SpectrumPicture(found, tracks, refused, scans[0].scan, picture, error);
}

int SpectrumCommand(const std::string& indexPath, const RecordingOptions& check, unsigned jobs,
                    const PictureOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<CalibratedScan> scans;
    std::vector<RefusedScan> refused;
    if (const int code = CalibratedIndex(indexPath, check, jobs, scans, refused, err)) return code;
    std::vector<ScanSources> found;
    std::vector<SourceTrack> tracks;
    const bool allReported = FindRunSources(scans, found, tracks, refused, err);
    PlotPicture picture;
    std::string error;
    if (!SpectrumOfScans(scans, found, tracks, refused, picture, error)) {
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

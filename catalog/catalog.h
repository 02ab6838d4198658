// The archive's catalog: one SQLite database file (catalog.sqlite) that
// relates the recordings of an archive across days. It holds each recording
// (when and where it was observed, its output folder, its status and
// warnings), its scan files (frequency, the calibration table's values),
// their calibration in physical units (gains and quiet levels, or why it was
// refused), the whole Sun's flux density of each and the compact sources
// found, and, once `vm-archive regions` has run, the active regions linked
// across days. The schema is versioned (docs/catalog.md).
//
// Every recording goes in within one transaction, replacing what an earlier
// entry of the same header held; every value goes in through bound
// parameters. The database is in WAL mode with a busy timeout, so that
// several processes (the shards of a Slurm array) may add to it at once.
#pragma once

#include <array>
#include <string>
#include <vector>

struct sqlite3;
struct ScanRecording;  // scan/calibrated_run.h
struct CalibratedRun;

// The version of the schema this build writes and reads (catalog_info's
// schema_version).
constexpr int kCatalogSchemaVersion = 1;

struct CatalogWarning {
    std::string id;       // the converter's warning name ("ar-short", ...)
    int channel = -1;     // -1: of the recording as a whole
    std::string message;
};

struct CatalogSource {
    int track = -1;  // the source's track across the recording's frequencies (TrackSources), -1: none
    double offset = 0.0, offsetError = 0.0;  // arcsec from the disk centre, as the scan files give it
    double width = 0.0, widthError = 0.0;    // Gaussian sigma in I, arcsec
    double peak = 0.0, peakError = 0.0;      // excess antenna temperature in I, K
    double flux = 0.0, fluxError = 0.0;      // s.f.u.
    double vOverI = 0.0, vOverIError = 0.0;
    double significance = 0.0;
};

struct CatalogScanFile {
    std::string name;        // the scan file's name within the recording's output folder
    int channel = -1;
    double frequency = 0.0;  // GHz
    double beamWidth = 0.0, fluxFactor = 0.0, quietTemperature = 0.0;  // THETA-DG, FLUX_L, TQSUN
    bool calibrated = false;
    std::string refusal;     // why the calibration refused it (not calibrated)
    std::array<double, 2> gain{}, quiet{}, quietError{};  // RR, LL: recorder units per K, quiet level and error
    bool hasFlux = false;
    double flux = 0.0, fluxError = 0.0;  // the whole Sun, s.f.u.
    std::vector<CatalogSource> sources;
};

struct CatalogRecording {
    std::string header;    // the header's path relative to the archive (the summary's recording)
    std::string output;    // the recording's output folder
    std::string observed;  // UT of the observation, "YYYY-MM-DDTHH:MM:SS.SS"
    std::string object;    // the header's object name (arbitrary bytes)
    double angleP = 0.0;   // degrees
    double solarRadius = 0.0;  // optical, arcsec
    std::string status;    // "converted", "warnings" or "failed" (as the summary)
    std::string reason;    // why it failed
    std::vector<CatalogWarning> warnings;
    std::vector<CatalogScanFile> scanFiles;
};

// An open catalog.
struct Catalog {
    sqlite3* db = nullptr;
    std::string path;
    Catalog() = default;
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;
    ~Catalog();
};

// Opens (creating when missing) the catalog at `path`: WAL mode, a busy
// timeout, the schema created or checked. False with "PATH: ..." when it
// cannot be opened or holds another schema version.
bool OpenCatalog(const std::string& path, Catalog& catalog, std::string& error);

// Adds one recording in one transaction, replacing an earlier entry of the
// same header.
bool AddRecording(Catalog& catalog, const CatalogRecording& recording, std::string& error);

// One scan file's whole-Sun flux in a daily series.
struct DailyFluxRow {
    long long recordingId = 0;
    std::string header;    // the recording's
    std::string observed;  // "YYYY-MM-DDTHH:MM:SS.SS"
    std::string day;       // "YYYY-MM-DD"
    double frequency = 0.0;  // GHz
    double flux = 0.0, fluxError = 0.0;  // s.f.u.
};

// The daily series at `frequency` [GHz]: for every recording with a whole-Sun
// flux, the scan files that bracket the frequency (the nearest at or below it
// and the nearest at or above it; one when a channel lies at it or when the
// recording has channels on one side only), ordered by day, observed time,
// header and frequency. False with "PATH: ..." on a database error.
bool DailyFluxRows(Catalog& catalog, double frequency, std::vector<DailyFluxRow>& rows, std::string& error);

// What a converted (or failed) recording's entry is made from.
struct CatalogInput {
    std::string headerPath;  // the header file
    std::string header;      // its path relative to the archive
    std::string output;      // the recording's output folder
    std::string scanIndex;   // the scan index (full path); empty when it wrote none
    std::vector<std::string> scanFiles;  // the scan files the scan index names (full paths), in its order
    std::string tablePath;   // the calibration table it was converted with
    bool back = false;       // back extrapolation (vm-fits's third argument)
    std::string status;      // "converted", "warnings" or "failed"
    std::string reason;      // why it failed
    std::vector<CatalogWarning> warnings;
};

// The recording's entry: the header read once (observed time, object, P
// angle, solar radius), its scan files calibrated (the refused ones with
// their reasons), the compact sources with their tracks and the whole-Sun
// flux of each calibrated scan file. A failed recording, or one whose header
// cannot be read, has no scan files.
CatalogRecording MakeCatalogRecording(const CatalogInput& input);

// The options that read the recording the scan files of `input` were
// converted from (LoadScanRecording), as vm-scan's --recording, --cfg and
// --third give them.
struct RecordingOptions;
RecordingOptions RecordingOptionsOf(const CatalogInput& input);

// The same entry from what was read and calibrated already: the recording
// (null when its header could not be read, `loadError` saying why) and its
// scan files `input.scanFiles` calibrated once by CalibrateRun (null for a
// failed recording, which gets no scan files).
CatalogRecording CatalogRecordingOfRun(const CatalogInput& input, const ScanRecording* recording,
                                       const std::string& loadError, const CalibratedRun* run);

// The text every table's rows make, ordered by natural keys (header, scan
// file name, position), never by row ids or the time added: two catalogs that
// hold the same give the same text. False with "PATH: ..." on a database error.
bool CatalogDump(Catalog& catalog, std::string& dump, std::string& error);

// Reads the recording of `header` back; false with "PATH: ..." on a database
// error, true with `found` false when it is not there.
bool ReadRecording(Catalog& catalog, const std::string& header, CatalogRecording& recording, bool& found,
                   std::string& error);

// The headers the catalog holds, sorted.
bool CatalogHeaders(Catalog& catalog, std::vector<std::string>& headers, std::string& error);


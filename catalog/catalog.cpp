#include "catalog/catalog.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>

#include "catalog/catalog_schema.h"
#include "catalog/catalog_sql.h"

Catalog::~Catalog() {
    if (db != nullptr) sqlite3_close(db);
}

namespace {

constexpr int kBusyTimeoutMs = 30000;

// The UTC time now, "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The schema version the catalog holds: 0 when it holds no table at all,
// -1 when it holds tables but no readable version.
bool ReadSchemaVersion(Catalog& catalog, int& version, std::string& error) {
    SqlStatement tables;
    if (!PrepareSql(catalog, "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'", tables, error)) return false;
    if (sqlite3_step(tables.stmt) != SQLITE_ROW) return SqlFailed(catalog, error);
    if (sqlite3_column_int(tables.stmt, 0) == 0) {
        version = 0;
        return true;
    }
    version = -1;
    SqlStatement info;
    if (sqlite3_prepare_v2(catalog.db, "SELECT value FROM catalog_info WHERE key = 'schema_version'", -1, &info.stmt,
                           nullptr) != SQLITE_OK)
        return true;  // no catalog_info: not a catalog
    if (sqlite3_step(info.stmt) == SQLITE_ROW) {
        std::string text = ColumnText(info.stmt, 0);
        try {
            std::size_t used = 0;
            int value = std::stoi(text, &used);
            if (used == text.size()) version = value;
        } catch (const std::exception&) {
        }
    }
    return true;
}

bool CreateSchema(Catalog& catalog, std::string& error) {
    if (!ExecSql(catalog, "BEGIN IMMEDIATE", error)) return false;
    int version = 0;
    // Another process may have created it between the look and the lock.
    bool ok = ReadSchemaVersion(catalog, version, error);
    if (ok && version == 0) {
        ok = ExecSql(catalog, CatalogSchemaSql(), error);
        SqlStatement info;
        ok = ok && PrepareSql(catalog, "INSERT INTO catalog_info (key, value) VALUES ('schema_version', ?1)", info, error);
        ok = ok && BindText(info, 1, std::to_string(kCatalogSchemaVersion)) && StepDone(catalog, info, error);
    }
    if (!ok) {
        ExecSql(catalog, "ROLLBACK", error);
        return false;
    }
    return ExecSql(catalog, "COMMIT", error);
}

}  // namespace

bool OpenCatalog(const std::string& path, Catalog& catalog, std::string& error) {
    if (catalog.db != nullptr) {
        sqlite3_close(catalog.db);
        catalog.db = nullptr;
    }
    catalog.path = path;
    if (path.empty()) {
        error = "(no catalog file given)";
        return false;
    }
    int rc = sqlite3_open_v2(path.c_str(), &catalog.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        error = path + ": " + (catalog.db != nullptr ? sqlite3_errmsg(catalog.db) : sqlite3_errstr(rc));
        sqlite3_close(catalog.db);
        catalog.db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(catalog.db, 1);
    sqlite3_busy_timeout(catalog.db, kBusyTimeoutMs);
    // The journal mode is the file's; asking it of a file another process is
    // creating waits as long as the busy timeout.
    SqlStatement mode;
    if (!PrepareSql(catalog, "PRAGMA journal_mode=WAL", mode, error)) return false;
    if (sqlite3_step(mode.stmt) != SQLITE_ROW) return SqlFailed(catalog, error);
    if (ColumnText(mode.stmt, 0) != "wal") {
        error = path + ": cannot be put in WAL mode (" + ColumnText(mode.stmt, 0) + ")";
        return false;
    }
    mode = SqlStatement();
    if (!ExecSql(catalog, "PRAGMA foreign_keys=ON", error)) return false;
    // The pages read straight from the file's mapping, and a page cache of
    // 64 MiB: a daily series over 10^5 recordings reads some 10^4 pages.
    if (!ExecSql(catalog, "PRAGMA mmap_size=1073741824; PRAGMA cache_size=-65536", error)) return false;
    int version = 0;
    if (!ReadSchemaVersion(catalog, version, error)) return false;
    if (version == 0) {
        if (!CreateSchema(catalog, error)) return false;
        if (!ReadSchemaVersion(catalog, version, error)) return false;
    }
    if (version == -1) {
        error = path + ": not a catalog (no schema version in catalog_info)";
        return false;
    }
    if (version != kCatalogSchemaVersion) {
        error = path + ": holds catalog schema version " + std::to_string(version) + ", this program reads version " +
                std::to_string(kCatalogSchemaVersion);
        return false;
    }
    return true;
}

namespace {

// The statements of one recording's insertion.
struct RecordingInserts {
    SqlStatement remove, recording, warning, scanFile, calibration, wholeSun, source;
};

bool PrepareInserts(Catalog& catalog, RecordingInserts& s, std::string& error) {
    return PrepareSql(catalog, "DELETE FROM recordings WHERE header = ?1", s.remove, error) &&
           PrepareSql(catalog,
                      "INSERT INTO recordings (header, output, observed, day, object, angle_p, solar_radius, status, "
                      "reason, added, flux_low, flux_high) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)",
                      s.recording, error) &&
           PrepareSql(catalog,
                      "INSERT INTO warnings (recording_id, position, warning, channel, message) "
                      "VALUES (?1, ?2, ?3, ?4, ?5)",
                      s.warning, error) &&
           PrepareSql(catalog,
                      "INSERT INTO scan_files (recording_id, name, channel, frequency, beam_width, flux_factor, "
                      "quiet_temperature) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                      s.scanFile, error) &&
           PrepareSql(catalog,
                      "INSERT INTO calibrations (scan_file_id, calibrated, refusal, gain_rr, gain_ll, quiet_rr, "
                      "quiet_ll, quiet_error_rr, quiet_error_ll) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                      s.calibration, error) &&
           PrepareSql(catalog,
                      "INSERT INTO whole_sun (scan_file_id, recording_id, frequency, flux, flux_error) "
                      "VALUES (?1, ?2, ?3, ?4, ?5)",
                      s.wholeSun, error) &&
           PrepareSql(catalog,
                      "INSERT INTO sources (scan_file_id, position, track, offset, offset_error, width, width_error, "
                      "peak, peak_error, flux, flux_error, v_over_i, v_over_i_error, significance) "
                      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14)",
                      s.source, error);
}

bool InsertScanFile(Catalog& catalog, RecordingInserts& s, long long recordingId, const CatalogScanFile& file,
                    std::string& error) {
    SqlStatement& f = s.scanFile;
    bool ok = BindInt(f, 1, recordingId) && BindText(f, 2, file.name) && BindInt(f, 3, file.channel) &&
              BindReal(f, 4, file.frequency) && BindReal(f, 5, file.beamWidth) && BindReal(f, 6, file.fluxFactor) &&
              BindReal(f, 7, file.quietTemperature);
    if (!ok || !StepDone(catalog, f, error)) return ok ? false : SqlFailed(catalog, error);
    long long fileId = sqlite3_last_insert_rowid(catalog.db);

    SqlStatement& c = s.calibration;
    ok = BindInt(c, 1, fileId) && BindInt(c, 2, file.calibrated ? 1 : 0) && BindText(c, 3, file.refusal);
    for (int p = 0; p < 2 && ok; ++p) {
        // Gains and quiet levels only of a calibrated scan file; NULL otherwise.
        if (file.calibrated) {
            ok = BindReal(c, 4 + p, file.gain[p]) && BindReal(c, 6 + p, file.quiet[p]) &&
                 BindReal(c, 8 + p, file.quietError[p]);
        } else {
            ok = BindNull(c, 4 + p) && BindNull(c, 6 + p) && BindNull(c, 8 + p);
        }
    }
    if (!ok || !StepDone(catalog, c, error)) return ok ? false : SqlFailed(catalog, error);

    if (file.hasFlux) {
        SqlStatement& w = s.wholeSun;
        ok = BindInt(w, 1, fileId) && BindInt(w, 2, recordingId) && BindReal(w, 3, file.frequency) &&
             BindReal(w, 4, file.flux) && BindReal(w, 5, file.fluxError);
        if (!ok || !StepDone(catalog, w, error)) return ok ? false : SqlFailed(catalog, error);
    }
    for (std::size_t i = 0; i < file.sources.size(); ++i) {
        const CatalogSource& src = file.sources[i];
        SqlStatement& q = s.source;
        ok = BindInt(q, 1, fileId) && BindInt(q, 2, static_cast<long long>(i)) && BindInt(q, 3, src.track) &&
             BindReal(q, 4, src.offset) && BindReal(q, 5, src.offsetError) && BindReal(q, 6, src.width) &&
             BindReal(q, 7, src.widthError) && BindReal(q, 8, src.peak) && BindReal(q, 9, src.peakError) &&
             BindReal(q, 10, src.flux) && BindReal(q, 11, src.fluxError) && BindReal(q, 12, src.vOverI) &&
             BindReal(q, 13, src.vOverIError) && BindReal(q, 14, src.significance);
        if (!ok || !StepDone(catalog, q, error)) return ok ? false : SqlFailed(catalog, error);
    }
    return true;
}

bool InsertRecording(Catalog& catalog, RecordingInserts& s, const CatalogRecording& r, std::string& error) {
    if (!BindText(s.remove, 1, r.header) || !StepDone(catalog, s.remove, error)) return false;
    SqlStatement& q = s.recording;
    bool ok = BindText(q, 1, r.header) && BindText(q, 2, r.output) && BindText(q, 3, r.observed) &&
              BindText(q, 4, r.observed.substr(0, 10)) && BindText(q, 5, r.object) && BindReal(q, 6, r.angleP) &&
              BindReal(q, 7, r.solarRadius) && BindText(q, 8, r.status) && BindText(q, 9, r.reason) &&
              BindText(q, 10, UtcNow());
    // The frequencies of the lowest and the highest scan file with a
    // whole-Sun flux (NULL without one), for the daily series.
    bool anyFlux = false;
    double low = 0.0, high = 0.0;
    for (const CatalogScanFile& file : r.scanFiles) {
        if (!file.hasFlux) continue;
        low = anyFlux ? std::min(low, file.frequency) : file.frequency;
        high = anyFlux ? std::max(high, file.frequency) : file.frequency;
        anyFlux = true;
    }
    ok = ok && (anyFlux ? BindReal(q, 11, low) && BindReal(q, 12, high) : BindNull(q, 11) && BindNull(q, 12));
    if (!ok) return SqlFailed(catalog, error);
    if (!StepDone(catalog, q, error)) return false;
    long long id = sqlite3_last_insert_rowid(catalog.db);
    for (std::size_t i = 0; i < r.warnings.size(); ++i) {
        const CatalogWarning& w = r.warnings[i];
        SqlStatement& ws = s.warning;
        ok = BindInt(ws, 1, id) && BindInt(ws, 2, static_cast<long long>(i)) && BindText(ws, 3, w.id) &&
             BindInt(ws, 4, w.channel) && BindText(ws, 5, w.message);
        if (!ok) return SqlFailed(catalog, error);
        if (!StepDone(catalog, ws, error)) return false;
    }
    for (const CatalogScanFile& file : r.scanFiles)
        if (!InsertScanFile(catalog, s, id, file, error)) return false;
    return true;
}

}  // namespace

bool AddRecording(Catalog& catalog, const CatalogRecording& recording, std::string& error) {
    if (catalog.db == nullptr) {
        error = catalog.path + ": the catalog is not open";
        return false;
    }
    RecordingInserts inserts;
    if (!PrepareInserts(catalog, inserts, error)) return false;
    if (!ExecSql(catalog, "BEGIN IMMEDIATE", error)) return false;
    if (!InsertRecording(catalog, inserts, recording, error)) {
        std::string ignored;
        ExecSql(catalog, "ROLLBACK", ignored);
        error += " (adding " + recording.header + ")";
        return false;
    }
    if (!ExecSql(catalog, "COMMIT", error)) {
        std::string ignored;
        ExecSql(catalog, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

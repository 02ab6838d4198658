// The daily series of the whole Sun's flux at one frequency.
//
// The scan files that bracket the frequency are found by frequency, not by
// recording: the index whole_sun_frequency is read from the frequency
// downwards (and upwards), one frequency at a time, until every recording
// with a whole-Sun flux on that side (recordings' flux_low, flux_high) has its
// nearest scan file. Recordings of one archive share their channels, so this
// reads about one index entry per recording and side.
#include <sqlite3.h>

#include <algorithm>
#include <unordered_map>

#include "catalog/catalog.h"
#include "catalog/catalog_sql.h"

namespace {

struct FluxEntry {
    long long scanFileId = 0;
    double frequency = 0.0, flux = 0.0, fluxError = 0.0;
};

// For each recording, its scan file with a whole-Sun flux nearest to
// `frequency` on one side (at or below it when `below`, else at or above).
bool NearestOnOneSide(Catalog& catalog, double frequency, bool below,
                      std::unordered_map<long long, FluxEntry>& nearest, std::string& error) {
    SqlStatement count, first, next, rows;
    bool ok = below ? PrepareSql(catalog, "SELECT COUNT(*) FROM recordings WHERE flux_low <= ?1", count, error) &&
                          PrepareSql(catalog, "SELECT MAX(frequency) FROM whole_sun WHERE frequency <= ?1", first, error) &&
                          PrepareSql(catalog, "SELECT MAX(frequency) FROM whole_sun WHERE frequency < ?1", next, error)
                    : PrepareSql(catalog, "SELECT COUNT(*) FROM recordings WHERE flux_high >= ?1", count, error) &&
                          PrepareSql(catalog, "SELECT MIN(frequency) FROM whole_sun WHERE frequency >= ?1", first, error) &&
                          PrepareSql(catalog, "SELECT MIN(frequency) FROM whole_sun WHERE frequency > ?1", next, error);
    ok = ok && PrepareSql(catalog,
                          "SELECT recording_id, scan_file_id, flux, flux_error FROM whole_sun WHERE frequency = ?1 "
                          "ORDER BY recording_id, scan_file_id",
                          rows, error);
    if (!ok) return false;
    if (!BindReal(count, 1, frequency) || sqlite3_step(count.stmt) != SQLITE_ROW) return SqlFailed(catalog, error);
    const long long wanted = sqlite3_column_int64(count.stmt, 0);

    SqlStatement* level = &first;
    double at = frequency;
    while (static_cast<long long>(nearest.size()) < wanted) {
        if (!BindReal(*level, 1, at) || sqlite3_step(level->stmt) != SQLITE_ROW) return SqlFailed(catalog, error);
        if (sqlite3_column_type(level->stmt, 0) == SQLITE_NULL) break;
        at = sqlite3_column_double(level->stmt, 0);
        sqlite3_reset(level->stmt);
        level = &next;
        if (!BindReal(rows, 1, at)) return SqlFailed(catalog, error);
        int rc;
        while ((rc = sqlite3_step(rows.stmt)) == SQLITE_ROW) {
            FluxEntry entry{sqlite3_column_int64(rows.stmt, 1), at, sqlite3_column_double(rows.stmt, 2),
                            sqlite3_column_double(rows.stmt, 3)};
            nearest.emplace(sqlite3_column_int64(rows.stmt, 0), entry);  // the first stays
        }
        if (rc != SQLITE_DONE) return SqlFailed(catalog, error);
        sqlite3_reset(rows.stmt);
    }
    return true;
}

}  // namespace

bool DailyFluxRows(Catalog& catalog, double frequency, std::vector<DailyFluxRow>& rows, std::string& error) {
    rows.clear();
    if (catalog.db == nullptr) {
        error = catalog.path + ": the catalog is not open";
        return false;
    }
    // One read transaction: the two sides and the recordings see one state.
    if (!ExecSql(catalog, "BEGIN", error)) return false;
    std::unordered_map<long long, FluxEntry> below, above;
    bool ok = NearestOnOneSide(catalog, frequency, true, below, error) &&
              NearestOnOneSide(catalog, frequency, false, above, error);
    SqlStatement recordings;
    ok = ok && PrepareSql(catalog,
                          "SELECT id, header, observed, day FROM recordings WHERE flux_low IS NOT NULL "
                          "ORDER BY day, observed, header",
                          recordings, error);
    if (ok) {
        int rc;
        while ((rc = sqlite3_step(recordings.stmt)) == SQLITE_ROW) {
            long long id = sqlite3_column_int64(recordings.stmt, 0);
            auto low = below.find(id);
            auto high = above.find(id);
            if (low == below.end() && high == above.end()) continue;
            DailyFluxRow row;
            row.recordingId = id;
            row.header = ColumnText(recordings.stmt, 1);
            row.observed = ColumnText(recordings.stmt, 2);
            row.day = ColumnText(recordings.stmt, 3);
            auto add = [&](const FluxEntry& e) {
                row.frequency = e.frequency;
                row.flux = e.flux;
                row.fluxError = e.fluxError;
                rows.push_back(row);
            };
            if (low != below.end()) add(low->second);
            if (high != above.end() && (low == below.end() || high->second.scanFileId != low->second.scanFileId))
                add(high->second);
        }
        if (rc != SQLITE_DONE) ok = SqlFailed(catalog, error);
    }
    std::string ignored;
    ExecSql(catalog, ok ? "COMMIT" : "ROLLBACK", ok ? error : ignored);
    return ok;
}

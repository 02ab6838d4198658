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
// `wanted` recordings have one there.
bool NearestOnOneSide(Catalog& catalog, double frequency, bool below, long long wanted,
                      std::unordered_map<long long, FluxEntry>& nearest, std::string& error) {
    SqlStatement first, next, rows;
    bool ok = below ? PrepareSql(catalog, "SELECT MAX(frequency) FROM whole_sun WHERE frequency <= ?1", first, error) &&
                          PrepareSql(catalog, "SELECT MAX(frequency) FROM whole_sun WHERE frequency < ?1", next, error)
                    : PrepareSql(catalog, "SELECT MIN(frequency) FROM whole_sun WHERE frequency >= ?1", first, error) &&
                          PrepareSql(catalog, "SELECT MIN(frequency) FROM whole_sun WHERE frequency > ?1", next, error);
    ok = ok && PrepareSql(catalog,
                          "SELECT recording_id, scan_file_id, flux, flux_error FROM whole_sun WHERE frequency = ?1 "
                          "ORDER BY recording_id, scan_file_id",
                          rows, error);
    if (!ok) return false;
    nearest.reserve(static_cast<std::size_t>(std::max(0LL, wanted)));

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
    // One read transaction: the recordings and the two sides see one state.
    // The recordings come first, in the series' order, with the frequency
    // range of their whole-Sun fluxes: how many each side must find.
    if (!ExecSql(catalog, "BEGIN", error)) return false;
    struct Recording {
        long long id;
        std::string header, observed, day;
    };
    std::vector<Recording> recordings;
    long long belowWanted = 0, aboveWanted = 0;
    SqlStatement list;
    bool ok = PrepareSql(catalog,
                         "SELECT id, header, observed, day, flux_low, flux_high FROM recordings "
                         "WHERE flux_low IS NOT NULL ORDER BY day, observed, header",
                         list, error);
    if (ok) {
        int rc;
        while ((rc = sqlite3_step(list.stmt)) == SQLITE_ROW) {
            recordings.push_back({sqlite3_column_int64(list.stmt, 0), ColumnText(list.stmt, 1),
                                  ColumnText(list.stmt, 2), ColumnText(list.stmt, 3)});
            belowWanted += sqlite3_column_double(list.stmt, 4) <= frequency ? 1 : 0;
            aboveWanted += sqlite3_column_double(list.stmt, 5) >= frequency ? 1 : 0;
        }
        if (rc != SQLITE_DONE) ok = SqlFailed(catalog, error);
    }
    std::unordered_map<long long, FluxEntry> below, above;
    ok = ok && NearestOnOneSide(catalog, frequency, true, belowWanted, below, error) &&
         NearestOnOneSide(catalog, frequency, false, aboveWanted, above, error);
    if (ok) {
        rows.reserve(below.size() + above.size());
        for (Recording& recording : recordings) {
            const auto low = below.find(recording.id);
            const auto high = above.find(recording.id);
            if (low == below.end() && high == above.end()) continue;
            const bool both = low != below.end() && high != above.end() &&
                              high->second.scanFileId != low->second.scanFileId;
            DailyFluxRow row;
            row.recordingId = recording.id;
            row.header = std::move(recording.header);
            row.observed = std::move(recording.observed);
            row.day = std::move(recording.day);
            const FluxEntry& first = low != below.end() ? low->second : high->second;
            row.frequency = first.frequency;
            row.flux = first.flux;
            row.fluxError = first.fluxError;
            if (both) {
                rows.push_back(row);
                row.frequency = high->second.frequency;
                row.flux = high->second.flux;
                row.fluxError = high->second.fluxError;
            }
            rows.push_back(std::move(row));
        }
    }
    std::string ignored;
    ExecSql(catalog, ok ? "COMMIT" : "ROLLBACK", ok ? error : ignored);
    return ok;
}

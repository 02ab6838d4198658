// Reading recordings back: one recording, the canonical dump the tests
// compare.
#include <sqlite3.h>

#include <cstdio>

#include "catalog/catalog.h"
#include "catalog/catalog_sql.h"

namespace {

double Real(sqlite3_stmt* stmt, int column) { return sqlite3_column_double(stmt, column); }
int Int(sqlite3_stmt* stmt, int column) { return sqlite3_column_int(stmt, column); }

// Steps a query, calling `row` for each row; false on a database error.
template <typename Row>
bool EachRow(Catalog& catalog, SqlStatement& statement, Row row, std::string& error) {
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) row(statement.stmt);
    if (rc != SQLITE_DONE) return SqlFailed(catalog, error);
    sqlite3_reset(statement.stmt);
    sqlite3_clear_bindings(statement.stmt);
    return true;
}

bool ReadScanFiles(Catalog& catalog, long long recordingId, CatalogRecording& r, std::string& error) {
    SqlStatement files, sources;
    if (!PrepareSql(catalog,
                    "SELECT f.id, f.name, f.channel, f.frequency, f.beam_width, f.flux_factor, f.quiet_temperature, "
                    "c.calibrated, c.refusal, c.gain_rr, c.gain_ll, c.quiet_rr, c.quiet_ll, c.quiet_error_rr, "
                    "c.quiet_error_ll, w.flux, w.flux_error FROM scan_files f "
                    "LEFT JOIN calibrations c ON c.scan_file_id = f.id LEFT JOIN whole_sun w ON w.scan_file_id = f.id "
                    "WHERE f.recording_id = ?1 ORDER BY f.name",
                    files, error) ||
        !PrepareSql(catalog,
                    "SELECT track, offset, offset_error, width, width_error, peak, peak_error, flux, flux_error, "
                    "v_over_i, v_over_i_error, significance FROM sources WHERE scan_file_id = ?1 ORDER BY position",
                    sources, error))
        return false;
    std::vector<long long> ids;
    BindInt(files, 1, recordingId);
    bool ok = EachRow(
        catalog, files,
        [&](sqlite3_stmt* s) {
            CatalogScanFile f;
            ids.push_back(sqlite3_column_int64(s, 0));
            f.name = ColumnText(s, 1);
            f.channel = Int(s, 2);
            f.frequency = Real(s, 3);
            f.beamWidth = Real(s, 4);
            f.fluxFactor = Real(s, 5);
            f.quietTemperature = Real(s, 6);
            f.calibrated = Int(s, 7) != 0;
            f.refusal = ColumnText(s, 8);
            for (int p = 0; p < 2; ++p) {
                f.gain[p] = Real(s, 9 + p);
                f.quiet[p] = Real(s, 11 + p);
                f.quietError[p] = Real(s, 13 + p);
            }
            f.hasFlux = sqlite3_column_type(s, 15) != SQLITE_NULL;
            f.flux = Real(s, 15);
            f.fluxError = Real(s, 16);
            r.scanFiles.push_back(f);
        },
        error);
    for (std::size_t i = 0; ok && i < ids.size(); ++i) {
        BindInt(sources, 1, ids[i]);
        ok = EachRow(
            catalog, sources,
            [&](sqlite3_stmt* s) {
                CatalogSource c;
                c.track = Int(s, 0);
                double* values[] = {&c.offset, &c.offsetError, &c.width, &c.widthError, &c.peak, &c.peakError,
                                    &c.flux,   &c.fluxError,   &c.vOverI, &c.vOverIError, &c.significance};
                for (int k = 0; k < 11; ++k) *values[k] = Real(s, 1 + k);
                r.scanFiles[i].sources.push_back(c);
            },
            error);
    }
    return ok;
}

// Text as it is, but for bytes that would break a line of the dump:
// control bytes, the backslash and bytes above 0x7e as \xNN.
std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7e || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void DumpRecording(const CatalogRecording& r, std::string& dump) {
    dump += "recording " + Escaped(r.header) + "\n  output " + Escaped(r.output) + "\n  observed " + r.observed +
            "\n  object " + Escaped(r.object) + "\n  angle_p " + Number(r.angleP) + "\n  solar_radius " +
            Number(r.solarRadius) + "\n  status " + r.status + "\n  reason " + Escaped(r.reason) + "\n";
    for (const CatalogWarning& w : r.warnings)
        dump += "  warning " + Escaped(w.id) + " " + std::to_string(w.channel) + " " + Escaped(w.message) + "\n";
    for (const CatalogScanFile& f : r.scanFiles) {
        dump += "  scan_file " + Escaped(f.name) + " channel " + std::to_string(f.channel) + " frequency " +
                Number(f.frequency) + " beam_width " + Number(f.beamWidth) + " flux_factor " + Number(f.fluxFactor) +
                " quiet_temperature " + Number(f.quietTemperature) + "\n";
        if (f.calibrated) {
            dump += "    calibrated gain " + Number(f.gain[0]) + " " + Number(f.gain[1]) + " quiet " +
                    Number(f.quiet[0]) + " " + Number(f.quiet[1]) + " quiet_error " + Number(f.quietError[0]) + " " +
                    Number(f.quietError[1]) + "\n";
        } else {
            dump += "    refused " + Escaped(f.refusal) + "\n";
        }
        if (f.hasFlux) dump += "    whole_sun " + Number(f.flux) + " " + Number(f.fluxError) + "\n";
        for (const CatalogSource& s : f.sources)
            dump += "    source track " + std::to_string(s.track) + " offset " + Number(s.offset) + " " +
                    Number(s.offsetError) + " width " + Number(s.width) + " " + Number(s.widthError) + " peak " +
                    Number(s.peak) + " " + Number(s.peakError) + " flux " + Number(s.flux) + " " +
                    Number(s.fluxError) + " v_over_i " + Number(s.vOverI) + " " + Number(s.vOverIError) +
                    " significance " + Number(s.significance) + "\n";
    }
}

}  // namespace

bool CatalogHeaders(Catalog& catalog, std::vector<std::string>& headers, std::string& error) {
    headers.clear();
    SqlStatement query;
    return PrepareSql(catalog, "SELECT header FROM recordings ORDER BY header", query, error) &&
           EachRow(catalog, query, [&](sqlite3_stmt* s) { headers.push_back(ColumnText(s, 0)); }, error);
}

bool ReadRecording(Catalog& catalog, const std::string& header, CatalogRecording& recording, bool& found,
                   std::string& error) {
    recording = CatalogRecording();
    found = false;
    SqlStatement query, warnings;
    if (!PrepareSql(catalog,
                    "SELECT id, output, observed, object, angle_p, solar_radius, status, reason FROM recordings "
                    "WHERE header = ?1",
                    query, error) ||
        !PrepareSql(catalog,
                    "SELECT warning, channel, message FROM warnings WHERE recording_id = ?1 ORDER BY position",
                    warnings, error))
        return false;
    long long id = 0;
    BindText(query, 1, header);
    if (!EachRow(
            catalog, query,
            [&](sqlite3_stmt* s) {
                found = true;
                id = sqlite3_column_int64(s, 0);
                recording.header = header;
                recording.output = ColumnText(s, 1);
                recording.observed = ColumnText(s, 2);
                recording.object = ColumnText(s, 3);
                recording.angleP = Real(s, 4);
                recording.solarRadius = Real(s, 5);
                recording.status = ColumnText(s, 6);
                recording.reason = ColumnText(s, 7);
            },
            error))
        return false;
    if (!found) return true;
    BindInt(warnings, 1, id);
    return EachRow(
               catalog, warnings,
               [&](sqlite3_stmt* s) {
                   recording.warnings.push_back({ColumnText(s, 0), Int(s, 1), ColumnText(s, 2)});
               },
               error) &&
           ReadScanFiles(catalog, id, recording, error);
}

bool CatalogDump(Catalog& catalog, std::string& dump, std::string& error) {
    dump.clear();
    if (!ExecSql(catalog, "BEGIN", error)) return false;  // one state throughout
    std::vector<std::string> headers;
    bool ok = CatalogHeaders(catalog, headers, error);
    for (std::size_t i = 0; ok && i < headers.size(); ++i) {
        CatalogRecording r;
        bool found = false;
        ok = ReadRecording(catalog, headers[i], r, found, error);
        if (ok) DumpRecording(r, dump);
    }
    // The regions, by their days and latitudes, and their tracks by recording.
    SqlStatement regions, tracks;
    ok = ok &&
         PrepareSql(catalog,
                    "SELECT first_day, last_day, days, latitude_low, latitude_high FROM regions "
                    "ORDER BY first_day, last_day, latitude_low, latitude_high, days",
                    regions, error) &&
         EachRow(
             catalog, regions,
             [&](sqlite3_stmt* s) {
                 dump += "region " + ColumnText(s, 0) + " " + ColumnText(s, 1) + " " + std::to_string(Int(s, 2)) +
                         " " + Number(Real(s, 3)) + " " + Number(Real(s, 4)) + "\n";
             },
             error) &&
         PrepareSql(catalog,
                    "SELECT r.header, t.track, t.offset, g.first_day, g.latitude_low, g.latitude_high "
                    "FROM region_tracks t JOIN recordings r ON r.id = t.recording_id "
                    "JOIN regions g ON g.id = t.region_id ORDER BY r.header, t.track",
                    tracks, error) &&
         EachRow(
             catalog, tracks,
             [&](sqlite3_stmt* s) {
                 dump += "region_track " + Escaped(ColumnText(s, 0)) + " " + std::to_string(Int(s, 1)) + " " +
                         Number(Real(s, 2)) + " region " + ColumnText(s, 3) + " " + Number(Real(s, 4)) + " " +
                         Number(Real(s, 5)) + "\n";
             },
             error);
    std::string ignored;
    ExecSql(catalog, ok ? "COMMIT" : "ROLLBACK", ignored);
    return ok;
}

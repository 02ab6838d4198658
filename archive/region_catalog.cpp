#include "archive/region_catalog.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

#include "archive/archive_time.h"
#include "output/scan_output.h"
#include "scan/calibrated_pictures.h"
#include "scan/plot_data.h"

namespace {

const PlotColour kDayColours[] = {PlotColour::Red,    PlotColour::Blue,   PlotColour::Green,
                                  PlotColour::Orange, PlotColour::Purple, PlotColour::Black};

std::string Text(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

// A prepared statement, finalised when it goes out of scope.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

bool Failed(Catalog& catalog, std::string& error) {
    error = catalog.path + ": " + sqlite3_errmsg(catalog.db);
    return false;
}

bool Execute(Catalog& catalog, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(catalog.db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = catalog.path + ": " + (message ? message : "cannot run " + std::string(sql));
    sqlite3_free(message);
    return false;
}

std::string Number(const char* format, double value) { return FormattedNumber(format, value); }

}  // namespace

void PlaceFeature(const std::vector<FeatureSource>& sources, RegionFeature& feature) {
    double vWeights = 0.0, vSum = 0.0;
    for (const FeatureSource& s : sources) {
        if (!(s.vOverIError > 0.0) || !std::isfinite(s.vOverI)) continue;
        const double w = 1.0 / (s.vOverIError * s.vOverIError);
        vWeights += w;
        vSum += w * s.vOverI;
    }
    feature.vOverI = vWeights > 0.0 ? vSum / vWeights : 0.0;
    feature.vOverIError = vWeights > 0.0 ? 1.0 / std::sqrt(vWeights) : 0.0;
    double weights = 0.0, sum = 0.0;
    bool weighted = !sources.empty();
    for (const FeatureSource& s : sources) weighted = weighted && s.offsetError > 0.0;
    if (weighted) {
        for (const FeatureSource& s : sources) {
            const double w = 1.0 / (s.offsetError * s.offsetError);
            weights += w;
            sum += w * s.offset;
        }
        feature.offset = sum / weights;
        feature.offsetError = 1.0 / std::sqrt(weights);
        return;
    }
    for (const FeatureSource& s : sources) sum += s.offset;
    const double n = static_cast<double>(sources.size());
    feature.offset = sources.empty() ? 0.0 : sum / n;
    double spread = 0.0;
    for (const FeatureSource& s : sources) spread += (s.offset - feature.offset) * (s.offset - feature.offset);
    feature.offsetError = sources.size() > 1 ? std::sqrt(spread / (n - 1.0)) / std::sqrt(n) : 0.0;
}

bool ReadFeatures(Catalog& catalog, CatalogFeatures& out, std::string& error) {
    out = CatalogFeatures();
    Statement query(catalog.db,
                    "SELECT r.id, r.observed, r.day, r.angle_p, r.solar_radius, s.track, f.frequency, f.beam_width, "
                    "s.offset, s.offset_error, s.flux, s.flux_error, s.v_over_i, s.v_over_i_error "
                    "FROM sources s JOIN scan_files f ON s.scan_file_id = f.id "
                    "JOIN recordings r ON f.recording_id = r.id WHERE s.track >= 0 "
                    "ORDER BY r.observed, r.id, s.track, f.frequency, s.position");
    if (!query.handle) return Failed(catalog, error);
    std::vector<double> beams;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(query.handle)) == SQLITE_ROW) {
        const long long recording = sqlite3_column_int64(query.handle, 0);
        const int track = sqlite3_column_int(query.handle, 5);
        if (out.features.empty() || out.features.back().recordingId != recording ||
            out.features.back().track != track) {
            RegionFeature feature;
            feature.recordingId = recording;
            feature.track = track;
            feature.observed = Text(query.handle, 1);
            feature.day = Text(query.handle, 2);
            if (!DaysOfTime(feature.observed, feature.time)) {
                error = catalog.path + ": recording " + std::to_string(recording) + " has the observed time '" +
                        feature.observed + "', not YYYY-MM-DDTHH:MM:SS.SS";
                return false;
            }
            feature.angleP = sqlite3_column_double(query.handle, 3);
            feature.radius = sqlite3_column_double(query.handle, 4);
            out.features.push_back(feature);
            out.sources.emplace_back();
            beams.push_back(0.0);
        }
        FeatureSource source;
        source.frequency = sqlite3_column_double(query.handle, 6);
        beams.back() += sqlite3_column_double(query.handle, 7);
        source.offset = sqlite3_column_double(query.handle, 8);
        source.offsetError = sqlite3_column_double(query.handle, 9);
        source.flux = sqlite3_column_double(query.handle, 10);
        source.fluxError = sqlite3_column_double(query.handle, 11);
        source.vOverI = sqlite3_column_double(query.handle, 12);
        source.vOverIError = sqlite3_column_double(query.handle, 13);
        out.sources.back().push_back(source);
    }
    if (step != SQLITE_DONE) return Failed(catalog, error);
    for (std::size_t k = 0; k < out.features.size(); ++k) {
        PlaceFeature(out.sources[k], out.features[k]);
        out.features[k].beamWidth = beams[k] / static_cast<double>(out.sources[k].size());
    }
    return true;
}

bool WriteRegions(Catalog& catalog, const CatalogFeatures& features, const std::vector<LinkedRegion>& regions,
                  std::string& error) {
    if (!Execute(catalog, "BEGIN IMMEDIATE", error)) return false;
    // The message is taken before the rollback replaces it.
    const auto rollBack = [&](bool takeMessage) {
        if (takeMessage) Failed(catalog, error);
        sqlite3_exec(catalog.db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (!Execute(catalog, "DELETE FROM region_tracks; DELETE FROM regions", error)) return rollBack(false);
    Statement region(catalog.db,
                     "INSERT INTO regions (id, first_day, last_day, days, latitude_low, latitude_high) "
                     "VALUES (?, ?, ?, ?, ?, ?)");
    Statement track(catalog.db, "INSERT INTO region_tracks (region_id, recording_id, track, offset) VALUES (?, ?, ?, ?)");
    if (!region.handle || !track.handle) return rollBack(true);
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const LinkedRegion& linked = regions[r];
        const RegionFeature& first = features.features[linked.features.front()];
        const RegionFeature& last = features.features[linked.features.back()];
        sqlite3_reset(region.handle);
        sqlite3_bind_int64(region.handle, 1, static_cast<long long>(r + 1));
        sqlite3_bind_text(region.handle, 2, first.day.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(region.handle, 3, last.day.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(region.handle, 4, static_cast<long long>(linked.features.size()));
        sqlite3_bind_double(region.handle, 5, linked.latitudeLow);
        sqlite3_bind_double(region.handle, 6, linked.latitudeHigh);
        if (sqlite3_step(region.handle) != SQLITE_DONE) return rollBack(true);
        for (const std::size_t k : linked.features) {
            const RegionFeature& f = features.features[k];
            sqlite3_reset(track.handle);
            sqlite3_bind_int64(track.handle, 1, static_cast<long long>(r + 1));
            sqlite3_bind_int64(track.handle, 2, f.recordingId);
            sqlite3_bind_int(track.handle, 3, f.track);
            sqlite3_bind_double(track.handle, 4, f.offset);
            if (sqlite3_step(track.handle) != SQLITE_DONE) return rollBack(true);
        }
    }
    if (!Execute(catalog, "COMMIT", error)) return rollBack(false);
    return true;
}

std::string RegionsCsv(const CatalogFeatures& features, const std::vector<LinkedRegion>& regions) {
    std::string csv =
        "region,observed,date,track,offset_arcsec,frequency_ghz,flux_sfu,flux_error_sfu,v_over_i,v_over_i_error\n";
    for (std::size_t r = 0; r < regions.size(); ++r)
        for (const std::size_t k : regions[r].features) {
            const RegionFeature& f = features.features[k];
            for (const FeatureSource& s : features.sources[k])
                csv += std::to_string(r + 1) + "," + f.observed + "," + f.day + "," + std::to_string(f.track) + "," +
                       Number("%.2f", f.offset) + "," + Number("%.6g", s.frequency) + "," + Number("%.4f", s.flux) +
                       "," + Number("%.4f", s.fluxError) + "," + Number("%.5f", s.vOverI) + "," +
                       Number("%.5f", s.vOverIError) + "\n";
        }
    return csv;
}

bool RegionPicture(const CatalogFeatures& features, const std::vector<LinkedRegion>& regions, std::size_t index,
                   PlotPicture& picture, std::string& error) {
    picture = PlotPicture();
    const LinkedRegion& region = regions.at(index);
    PlotPanel flux, polarisation;
    std::vector<double> frequencies, fluxes, ratios{0.0};
    for (std::size_t d = 0; d < region.features.size(); ++d) {
        const std::size_t k = region.features[d];
        const RegionFeature& f = features.features[k];
        const PlotColour colour = kDayColours[d % (sizeof kDayColours / sizeof kDayColours[0])];
        const std::string label = f.day + " at " + Number("%+.0f", f.offset) + " arcsec";
        PlotTrace i{label, colour, PlotLineStyle::Solid, {}, {}, true, {}, {}};
        PlotTrace v{"", colour, PlotLineStyle::Solid, {}, {}, true, {}, {}};
        for (const FeatureSource& s : features.sources[k]) {
            if (!(s.frequency > 0.0)) continue;
            frequencies.push_back(s.frequency);
            if (s.flux > 0.0) {
                i.x.push_back(s.frequency);
                i.y.push_back(s.flux);
                i.yLow.push_back(std::max(s.flux - s.fluxError, s.flux / 10.0));
                i.yHigh.push_back(s.flux + s.fluxError);
                fluxes.insert(fluxes.end(), {i.yLow.back(), i.yHigh.back()});
            }
            v.x.push_back(s.frequency);
            v.y.push_back(s.vOverI);
            v.yLow.push_back(s.vOverI - s.vOverIError);
            v.yHigh.push_back(s.vOverI + s.vOverIError);
            ratios.insert(ratios.end(), {v.yLow.back(), v.yHigh.back()});
        }
        flux.legend.push_back({label, colour, PlotLineStyle::Solid});
        flux.traces.push_back(std::move(i));
        polarisation.traces.push_back(std::move(v));
    }
    if (fluxes.empty() || frequencies.empty()) {
        error = "region " + std::to_string(index + 1) + " has no source with a flux above 0";
        return false;
    }
    const auto [fLow, fHigh] = std::minmax_element(frequencies.begin(), frequencies.end());
    const auto [sLow, sHigh] = std::minmax_element(fluxes.begin(), fluxes.end());
    SpectrumAxes(*fLow, *fHigh, *sLow, *sHigh, ratios, "Flux density day by day", flux, polarisation);
    const RegionFeature& first = features.features[region.features.front()];
    const RegionFeature& last = features.features[region.features.back()];
    picture.title = "Active region " + std::to_string(index + 1) + ": " + first.day + " to " + last.day + " (" +
                    std::to_string(region.features.size()) + (region.features.size() == 1 ? " day)" : " days)");
    picture.caption.push_back("Latitudes that explain every link by the differential rotation: " +
                              Number("%+.1f", region.latitudeLow) + " to " + Number("%+.1f", region.latitudeHigh) +
                              " degrees. Error bars: one standard error from the fit.");
    picture.panels.push_back(flux);
    picture.panels.push_back(polarisation);
    return true;
}

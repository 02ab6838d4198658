#include "calibrate/source_table.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace {

using Json = nlohmann::ordered_json;

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Csv(double value) {
    if (!std::isfinite(value)) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", value);
    return text;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvText(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

const SourceColumn kColumns[] = {
    {"frequency_ghz", "GHz", [](const ScanSources& s, const ScanSource&) { return s.frequency; }},
    {"offset_arcsec", "arcsec", [](const ScanSources&, const ScanSource& p) { return p.shape.position; }},
    {"offset_error_arcsec", "arcsec", [](const ScanSources&, const ScanSource& p) { return p.shape.positionError; }},
    {"width_arcsec", "arcsec", [](const ScanSources&, const ScanSource& p) { return p.shape.width; }},
    {"width_error_arcsec", "arcsec", [](const ScanSources&, const ScanSource& p) { return p.shape.widthError; }},
    {"peak_k", "K", [](const ScanSources&, const ScanSource& p) { return p.shape.peak; }},
    {"peak_error_k", "K", [](const ScanSources&, const ScanSource& p) { return p.shape.peakError; }},
    {"flux_sfu", "sfu", [](const ScanSources&, const ScanSource& p) { return p.flux; }},
    {"flux_error_sfu", "sfu", [](const ScanSources&, const ScanSource& p) { return p.fluxError; }},
    {"v_k", "K", [](const ScanSources&, const ScanSource& p) { return p.vPeak; }},
    {"v_error_k", "K", [](const ScanSources&, const ScanSource& p) { return p.vPeakError; }},
    {"v_over_i", "", [](const ScanSources&, const ScanSource& p) { return p.vOverI; }},
    {"v_over_i_error", "", [](const ScanSources&, const ScanSource& p) { return p.vOverIError; }},
    {"significance", "", [](const ScanSources&, const ScanSource& p) { return p.significance; }},
};

}  // namespace

std::vector<std::pair<std::size_t, std::size_t>> ByFrequency(const std::vector<ScanSources>& scans,
                                                             const SourceTrack& track) {
    std::vector<std::pair<std::size_t, std::size_t>> points = track.points;
    std::stable_sort(points.begin(), points.end(), [&](const auto& a, const auto& b) {
        return scans[a.first].frequency < scans[b.first].frequency;
    });
    return points;
}

const std::vector<SourceColumn>& SourceColumns() {
    static const std::vector<SourceColumn> columns(std::begin(kColumns), std::end(kColumns));
    return columns;
}

std::vector<SourceRow> SourceRows(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks) {
    std::vector<SourceRow> rows;
    for (std::size_t t = 0; t < tracks.size(); ++t)
        for (const auto& [s, k] : ByFrequency(scans, tracks[t])) rows.push_back({t + 1, s, k});
    return rows;
}

std::string SourcesCsv(const std::vector<ScanSources>& scans, const std::vector<SourceTrack>& tracks) {
    std::string csv = "source,scan_file";
    for (const SourceColumn& column : kColumns) csv += std::string(",") + column.name;
    csv += ",flux_factor_source\n";
    for (const SourceRow& row : SourceRows(scans, tracks)) {
        const ScanSources& scan = scans[row.scan];
        csv += std::to_string(row.source) + "," + CsvText(FileNameOf(scan.name));
        for (const SourceColumn& column : kColumns) csv += "," + Csv(column.value(scan, scan.sources[row.point]));
        csv += std::string(",") + FluxFactorSourceName(scan.fluxFactorSource) + "\n";
    }
    return csv;
}

std::string SourcesJson(const std::string& indexPath, const std::vector<ScanSources>& scans,
                        const std::vector<SourceTrack>& tracks, const std::vector<RefusedScan>& refused) {
    Json json;
    json["scan_index"] = indexPath;
    Json files = Json::array();
    for (const ScanSources& s : scans) {
        Json file;
        file["name"] = FileNameOf(s.name);
        file["frequency_ghz"] = s.frequency;
        file["quiet_sun_k"] = s.quietTemperature;
        file["flux_factor"] = s.fluxFactor;
        file["flux_factor_source"] = FluxFactorSourceName(s.fluxFactorSource);
        file["beam_width_arcsec"] = s.beamWidth;
        file["gain_rr_per_k"] = s.gain[0];
        file["gain_ll_per_k"] = s.gain[1];
        file["noise_k"] = s.stokesI.noise;
        file["disk_radius_arcsec"] = s.stokesI.radius;
        file["disk_centre_arcsec"] = s.stokesI.centre;
        file["v_disk_k"] = s.vDisk;
        file["sources_found"] = s.sources.size();
        files.push_back(file);
    }
    json["scan_files"] = files;
    Json refusals = Json::array();
    for (const RefusedScan& r : refused) refusals.push_back(Json{{"name", FileNameOf(r.name)}, {"reason", r.reason}});
    json["refused"] = refusals;
    Json rejections = Json::array();
    for (const ScanSources& s : scans)
        for (const RejectedSource& r : s.rejected)
            rejections.push_back(Json{{"scan_file", FileNameOf(s.name)},
                                      {"offset_arcsec", r.source.shape.position},
                                      {"v_over_i", r.source.vOverI},
                                      {"v_over_i_error", r.source.vOverIError},
                                      {"reason", r.reason}});
    json["rejected_sources"] = rejections;
    Json sources = Json::array();
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        Json points = Json::array();
        for (const auto& [s, k] : ByFrequency(scans, tracks[t])) {
            Json point;
            point["scan_file"] = FileNameOf(scans[s].name);
            for (const SourceColumn& column : kColumns) {
                const double v = column.value(scans[s], scans[s].sources[k]);
                point[column.name] = std::isfinite(v) ? Json(v) : Json();
            }
            point["flux_factor_source"] = FluxFactorSourceName(scans[s].fluxFactorSource);
            points.push_back(point);
        }
        sources.push_back(Json{{"source", t + 1}, {"points", points}});
    }
    json["sources"] = sources;
    // A name or reason that is not UTF-8 keeps its other characters; its
    // stray bytes become U+FFFD.
    return json.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

namespace {

const WholeSunColumn kWholeSunColumns[] = {
    {"frequency_ghz", "GHz", [](const WholeSunFlux& f) { return f.frequency; }},
    {"flux_sfu", "sfu", [](const WholeSunFlux& f) { return f.flux; }},
    {"flux_error_sfu", "sfu", [](const WholeSunFlux& f) { return f.fluxError; }},
    {"beam_fwhm_arcsec", "arcsec", [](const WholeSunFlux& f) { return f.beamWidth; }},
    {"flux_factor", "", [](const WholeSunFlux& f) { return f.fluxFactor; }},
};

}  // namespace

std::vector<WholeSunColumn> WholeSunColumns() {
    return std::vector<WholeSunColumn>(std::begin(kWholeSunColumns), std::end(kWholeSunColumns));
}

std::vector<const WholeSunFlux*> ByRisingFrequency(const std::vector<WholeSunFlux>& fluxes) {
    std::vector<const WholeSunFlux*> sorted;
    for (const WholeSunFlux& f : fluxes) sorted.push_back(&f);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const WholeSunFlux* a, const WholeSunFlux* b) { return a->frequency < b->frequency; });
    return sorted;
}

std::string WholeSunCsv(const std::vector<WholeSunFlux>& fluxes) {
    std::string text = "scan_file";
    for (const WholeSunColumn& column : kWholeSunColumns) text += std::string(",") + column.name;
    text += "\n";
    for (const WholeSunFlux* f : ByRisingFrequency(fluxes)) {
        text += CsvText(FileNameOf(f->name));
        for (const WholeSunColumn& column : kWholeSunColumns) text += "," + Csv(column.value(*f));
        text += "\n";
    }
    return text;
}

std::string WholeSunJson(const std::string& indexPath, const std::vector<WholeSunFlux>& fluxes,
                         const std::vector<RefusedScan>& refused) {
    Json json;
    json["scan_index"] = indexPath;
    Json files = Json::array();
    for (const WholeSunFlux* f : ByRisingFrequency(fluxes)) {
        Json file;
        file["scan_file"] = FileNameOf(f->name);
        for (const WholeSunColumn& column : kWholeSunColumns) {
            const double v = column.value(*f);
            file[column.name] = std::isfinite(v) ? Json(v) : Json();
        }
        files.push_back(file);
    }
    json["scan_files"] = files;
    Json refusals = Json::array();
    for (const RefusedScan& r : refused) refusals.push_back(Json{{"name", FileNameOf(r.name)}, {"reason", r.reason}});
    json["refused"] = refusals;
    return json.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

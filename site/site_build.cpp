#include "site/site.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "archive/flux_series.h"
#include "platform/paths.h"
#include "archive/region_catalog.h"
#include "scan/plots.h"
#include "site/html.h"
#include "site/pages.h"
#include "site/products.h"

namespace {

constexpr PictureSize kFluxPictureSize{1200, 800};
constexpr PictureSize kRegionPictureSize{900, 600};

bool IsFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The names in a folder, sorted; none when it cannot be read.
std::vector<std::string> FolderNames(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// A PNG file's width and height from its IHDR chunk; false when it is not one.
bool PngSize(const std::string& path, int& width, int& height) {
    unsigned char head[24];
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (n != sizeof head || std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0)
        return false;
    const auto be = [&](int at) {
        return static_cast<long>(head[at]) << 24 | static_cast<long>(head[at + 1]) << 16 |
               static_cast<long>(head[at + 2]) << 8 | static_cast<long>(head[at + 3]);
    };
    width = static_cast<int>(be(16));
    height = static_cast<int>(be(20));
    return width > 0 && height > 0;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// What the recording's products folder holds.
void FindProducts(const std::string& folder, SitePage& page) {
    // The page's folder is made with the page: products are there when
    // any of their files is.
    if (!IsFolder(folder)) return;
    for (const auto& picture : kPagePictures) {
        PagePicture p;
        p.file = picture[0];
        p.title = picture[1];
        const std::string path = folder + "/" + p.file;
        p.present = IsFile(path);
        if (p.present) PngSize(path, p.width, p.height);
        page.productsFound = page.productsFound || p.present;
        page.pictures.push_back(p);
    }
    std::string notes;
    if (ReadBytes(folder + "/" + kProductNotes, notes)) {
        page.notes = Lines(notes);
        page.productsFound = true;
    }
    page.explain = IsFile(folder + "/" + kProductExplain);
    page.sources = IsFile(folder + "/" + kProductSources);
    page.wholeSun = IsFile(folder + "/" + kProductWholeSunCsv);
    page.productsFound = page.productsFound || page.explain || page.sources || page.wholeSun;
    const std::string fits = folder + "/" + kProductFitsFolder;
    if (IsFolder(fits))
        for (const std::string& name : FolderNames(fits))
            if (IsFile(fits + "/" + name)) page.fits.push_back(name);
}

// Makes the folder and those above it; false with "Can't create PATH: ...".
bool MakeSiteFolder(const std::string& path, std::string& error) {
    std::string failure;
    if (MakeFolders(path, &failure)) return true;
    error = "Can't create " + path + ": " + failure;
    return false;
}

struct Writer {
    const std::string& site;
    SiteReport& report;
    std::string& error;

    bool Write(const std::string& name, const std::string& bytes) {
        bool written = false;
        if (!WriteIfChanged(site + "/" + name, bytes, written, error)) return false;
        ++report.pages;
        if (written) ++report.written;
        return true;
    }
};

// Draws a picture unless `csv` is what its CSV file beside it holds already
// and the picture is there; then writes the CSV. `drawn` says whether a
// picture stands there afterwards. A picture with nothing to draw is removed.
template <typename Make>
bool PictureWithCsv(Writer& writer, const std::string& picture, const std::string& csvName, const std::string& csv,
                    const PictureSize& size, Make make, bool& drawn) {
    const std::string picturePath = writer.site + "/" + picture;
    std::string old;
    drawn = false;
    if (ReadBytes(writer.site + "/" + csvName, old) && old == csv && IsFile(picturePath)) {
        ++writer.report.pages;
        drawn = true;
    } else {
        PlotPicture plot;
        std::string reason;
        if (make(plot, reason)) {
            std::string bytes;
            if (!DrawPicture(plot, size, PictureFormat::Png, bytes, writer.error)) {
                writer.error = picturePath + ": " + writer.error;
                return false;
            }
            if (!writer.Write(picture, bytes)) return false;
            drawn = true;
        } else {
            writer.report.notes.push_back(picture + " not drawn: " + reason);
            std::remove(picturePath.c_str());
        }
    }
    return writer.Write(csvName, csv);
}

bool BuildSeries(Catalog& catalog, const SiteOptions& options, const std::vector<double>& frequencies,
                 Writer& writer) {
    SeriesContent content;
    content.frequencies = frequencies;
    std::vector<DailyFlux> series;
    std::vector<std::string> notes;
    if (!ReadDailyFlux(catalog, frequencies, false, series, notes, writer.error)) return false;
    for (const std::string& note : notes) content.notes.push_back(note);
    bool drawn = false;
    if (!PictureWithCsv(writer, "series/flux.png", "series/flux.csv", DailyFluxCsv(series), kFluxPictureSize,
                        [&](PlotPicture& p, std::string& reason) {
                            return DailyFluxPicture(series, options.catalog, p, reason);
                        },
                        drawn))
        return false;
    if (drawn) {
        content.fluxPicture = "flux.png";
        content.fluxWidth = kFluxPictureSize.width;
        content.fluxHeight = kFluxPictureSize.height;
    }
    std::map<std::string, std::size_t> rowOf;
    for (const DailyFlux& f : series) {
        const std::string key = f.observed + "\n" + f.header;
        auto at = rowOf.find(key);
        if (at == rowOf.end()) {
            at = rowOf.emplace(key, content.flux.size()).first;
            SeriesFluxRow row;
            row.observed = f.observed;
            row.day = f.day;
            row.folder = RecordingSiteFolder(f.header);
            row.values.resize(frequencies.size());
            content.flux.push_back(row);
        }
        for (std::size_t k = 0; k < frequencies.size(); ++k)
            if (frequencies[k] == f.frequency) {
                char text[64];
                std::snprintf(text, sizeof text, "%.1f ± %.1f", f.flux, f.fluxError);
                content.flux[at->second].values[k] = text;
            }
    }

    CatalogFeatures features;
    if (!ReadFeatures(catalog, features, writer.error)) return false;
    const std::vector<LinkedRegion> regions = LinkRegions(features.features);
    const std::string all = RegionsCsv(features, regions);
    if (!writer.Write("series/regions.csv", all)) return false;
    const std::vector<std::string> lines = Lines(all);
    for (std::size_t r = 0; r < regions.size(); ++r) {
        SeriesRegion g;
        g.number = static_cast<int>(r + 1);
        std::set<std::string> days;
        for (const std::size_t k : regions[r].features) days.insert(features.features[k].day);
        if (!days.empty()) {
            g.firstDay = *days.begin();
            g.lastDay = *days.rbegin();
        }
        g.days = static_cast<int>(days.size());
        g.latitudeLow = regions[r].latitudeLow;
        g.latitudeHigh = regions[r].latitudeHigh;
        const std::string prefix = std::to_string(r + 1) + ",";
        std::string csv = lines.empty() ? std::string() : lines[0] + "\n";
        for (std::size_t k = 1; k < lines.size(); ++k)
            if (lines[k].compare(0, prefix.size(), prefix) == 0) csv += lines[k] + "\n";
        char name[32];
        std::snprintf(name, sizeof name, "region-%04zu", r + 1);
        if (!PictureWithCsv(writer, std::string("series/") + name + ".png", std::string("series/") + name + ".csv",
                            csv, kRegionPictureSize,
                            [&](PlotPicture& p, std::string& reason) {
                                return RegionPicture(features, regions, r, p, reason);
                            },
                            drawn))
            return false;
        if (drawn) {
            g.picture = std::string(name) + ".png";
            g.width = kRegionPictureSize.width;
            g.height = kRegionPictureSize.height;
        }
        content.regions.push_back(g);
    }
    // The pictures of regions that are no more.
    for (const std::string& name : FolderNames(writer.site + "/series")) {
        unsigned long number = 0;
        char tail[8] = {};
        if (std::sscanf(name.c_str(), "region-%lu.%4s", &number, tail) == 2 && number > regions.size() &&
            (std::strcmp(tail, "png") == 0 || std::strcmp(tail, "csv") == 0))
            std::remove((writer.site + "/series/" + name).c_str());
    }
    return writer.Write("series.html", SeriesPage(content));
}

}  // namespace

std::string RecordingSiteFolder(const std::string& header) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a, 64 bits
    for (const char c : header) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    char text[24];
    std::snprintf(text, sizeof text, "r/%016llx", static_cast<unsigned long long>(hash));
    return text;
}

bool BuildSite(const SiteOptions& options, SiteReport& report, std::string& error) {
    report = SiteReport();
    const std::vector<double> frequencies =
        options.frequencies.empty() ? std::vector<double>{1.4, 2.8, 5.7} : options.frequencies;
    if (!IsFile(options.catalog)) {
        error = options.catalog + ": no such catalog file";
        return false;
    }
    Catalog catalog;
    if (!OpenCatalog(options.catalog, catalog, error)) return false;
    if (!MakeSiteFolder(options.site, error) || !MakeSiteFolder(options.site + "/series", error)) return false;
    const std::string site = AbsolutePath(options.site);

    std::vector<std::string> headers;
    if (!CatalogHeaders(catalog, headers, error)) return false;
    std::vector<SitePage> pages;
    pages.reserve(headers.size());
    for (const std::string& header : headers) {
        SitePage page;
        bool found = false;
        if (!ReadRecording(catalog, header, page.recording, found, error)) return false;
        if (!found) continue;  // gone since the headers were read
        page.folder = RecordingSiteFolder(header);
        page.scanFolder = RelativePath(site + "/" + page.folder, AbsolutePath(page.recording.output));
        FindProducts(site + "/" + page.folder, page);
        pages.push_back(std::move(page));
    }
    std::stable_sort(pages.begin(), pages.end(), [](const SitePage& a, const SitePage& b) {
        return a.recording.observed != b.recording.observed ? a.recording.observed < b.recording.observed
                                                            : a.recording.header < b.recording.header;
    });

    Writer writer{site, report, error};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (!MakeSiteFolder(site + "/" + pages[i].folder, error)) return false;
        if (!writer.Write(pages[i].folder + "/index.html", RecordingPage(pages, i))) return false;
    }
    if (!writer.Write("style.css", StyleSheet()) || !writer.Write("index.html", CalendarPage(pages))) return false;
    return BuildSeries(catalog, options, frequencies, writer);
}

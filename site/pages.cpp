#include "site/pages.h"

#include <cstdio>
#include <map>

#include "site/html.h"
#include "site/products.h"

const std::array<std::array<const char*, 2>, 5> kPagePictures{{
    {kProductOverview, "Overview: every scan file's RR, the warnings shaded"},
    {kProductCalibratedI, "Calibrated I"},
    {kProductCalibratedV, "Calibrated V"},
    {kProductSpectrum, "The compact sources against frequency"},
    {kProductWholeSun, "The whole Sun's flux against frequency"},
}};

namespace {

const char* const kMonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                   "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

std::string Number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string WithError(const char* format, double value, double error) {
    return Number(format, value) + " ± " + Number(format, error);
}

// Head and top of a page; `root` leads from the page to the site's folder ("" or "../../").
std::string PageTop(const std::string& title, const std::string& root) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + Html(title) +
           "</title>\n<link rel=\"stylesheet\" href=\"" + root + "style.css\">\n</head>\n<body>\n";
}

const char* const kPageEnd = "</body>\n</html>\n";

// "2003-11-05 08:12:34 UT" from "2003-11-05T08:12:34.56".
std::string ShownTime(const std::string& observed) {
    int year = 0, month = 0, day = 0;
    if (!ObservedDay(observed, year, month, day)) return "unknown";
    std::string shown = observed.substr(0, 10);
    if (observed.size() >= 19 && observed[10] == 'T') shown += " " + observed.substr(11, 8);
    return shown + " UT";
}

std::string StatusClass(const std::string& status) {
    if (status == "converted") return "ok";
    if (status == "warnings") return "warn";
    return "fail";
}

// The status as one short phrase (escaped).
std::string StatusHtml(const CatalogRecording& r) {
    if (r.status == "converted") return "<span class=\"ok\">converted</span>";
    if (r.status == "warnings") return "<span class=\"warn\">" + Html(WarningIds(r.warnings)) + "</span>";
    if (r.status == "failed")
        return "<span class=\"fail\">failed" + (r.reason.empty() ? std::string() : ": " + Html(r.reason)) +
               "</span>";
    return "<span class=\"fail\">" + Html(r.status) + "</span>";
}

std::string PageLink(const std::string& fromRoot, const SitePage& page) {
    return fromRoot + PercentEncoded(page.folder) + "/index.html";
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// 0 for Monday .. 6 for Sunday.
int Weekday(int year, int month, int day) {
    // Days since 1970-01-01 (a Thursday), after H. Hinnant's days_from_civil.
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yoe = year - era * 400;
    const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = era * 146097 + doe - 719468;
    return static_cast<int>(((days % 7) + 7 + 3) % 7);
}

std::string Dimensions(int width, int height) {
    if (width <= 0 || height <= 0) return "";
    return " width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\"";
}

// The lines of notes.txt about `file`; all of them when none names it.
std::vector<std::string> NotesAbout(const std::vector<std::string>& notes, const std::string& file) {
    std::vector<std::string> about;
    for (const std::string& line : notes)
        if (line.find(file) != std::string::npos) about.push_back(line);
    return about.empty() ? notes : about;
}

}  // namespace

bool ObservedDay(const std::string& observed, int& year, int& month, int& day) {
    if (observed.size() < 10 || observed[4] != '-' || observed[7] != '-') return false;
    for (const int k : {0, 1, 2, 3, 5, 6, 8, 9})
        if (observed[k] < '0' || observed[k] > '9') return false;
    year = std::stoi(observed.substr(0, 4));
    month = std::stoi(observed.substr(5, 2));
    day = std::stoi(observed.substr(8, 2));
    return year > 0 && month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

std::vector<std::array<int, 7>> MonthWeeks(int year, int month) {
    std::vector<std::array<int, 7>> weeks;
    const int first = Weekday(year, month, 1), days = DaysInMonth(year, month);
    std::array<int, 7> week{};
    int column = first;
    for (int d = 1; d <= days; ++d) {
        week[column] = d;
        if (++column == 7) {
            weeks.push_back(week);
            week = {};
            column = 0;
        }
    }
    if (column != 0) weeks.push_back(week);
    return weeks;
}

std::string WarningIds(const std::vector<CatalogWarning>& warnings) {
    std::vector<std::pair<std::string, int>> counts;
    for (const CatalogWarning& w : warnings) {
        bool found = false;
        for (auto& c : counts)
            if (c.first == w.id) ++c.second, found = true;
        if (!found) counts.emplace_back(w.id, 1);
    }
    std::string text;
    for (const auto& c : counts) {
        if (!text.empty()) text += ", ";
        text += c.first;
        if (c.second > 1) text += " ×" + std::to_string(c.second);
    }
    return text.empty() ? "warnings" : text;
}

std::string CalendarPage(const std::vector<SitePage>& pages) {
    int converted = 0, warned = 0, failed = 0;
    std::map<int, std::map<int, std::vector<std::size_t>>> months;  // year*100+month -> day -> pages
    std::vector<std::size_t> unknown;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const CatalogRecording& r = pages[i].recording;
        if (r.status == "converted") ++converted;
        else if (r.status == "warnings") ++warned;
        else ++failed;
        int year = 0, month = 0, day = 0;
        if (ObservedDay(r.observed, year, month, day)) months[year * 100 + month][day].push_back(i);
        else unknown.push_back(i);
    }
    std::string html = PageTop("Recordings by day", "");
    html += "<nav><b>Calendar</b> · <a href=\"series.html\">Daily flux and active regions</a></nav>\n";
    html += "<h1>Recordings by day</h1>\n<p class=\"totals\">" + std::to_string(pages.size()) +
            " recordings: <span class=\"ok\">" + std::to_string(converted) + " converted</span>, <span class=\"warn\">" +
            std::to_string(warned) + " with warnings</span>, <span class=\"fail\">" + std::to_string(failed) +
            " failed</span>";
    if (!unknown.empty()) html += ", <a href=\"#unknown\">" + std::to_string(unknown.size()) + " of unknown time</a>";
    html += ".</p>\n";
    if (!months.empty()) {
        html += "<p class=\"months\">";
        for (auto m = months.rbegin(); m != months.rend(); ++m) {
            char id[16];
            std::snprintf(id, sizeof id, "%04d-%02d", m->first / 100, m->first % 100);
            html += std::string("<a href=\"#") + id + "\">" + id + "</a> ";
        }
        html += "</p>\n";
    }
    for (auto m = months.rbegin(); m != months.rend(); ++m) {
        const int year = m->first / 100, month = m->first % 100;
        char id[16];
        std::snprintf(id, sizeof id, "%04d-%02d", year, month);
        html += std::string("<h2 id=\"") + id + "\">" + kMonthNames[month - 1] + " " + std::to_string(year) +
                "</h2>\n<table class=\"month\">\n<tr>";
        for (const char* w : kWeekdays) html += std::string("<th>") + w + "</th>";
        html += "</tr>\n";
        for (const std::array<int, 7>& week : MonthWeeks(year, month)) {
            html += "<tr>";
            for (const int d : week) {
                if (d == 0) {
                    html += "<td class=\"empty\"></td>";
                    continue;
                }
                const auto day = m->second.find(d);
                html += day == m->second.end() ? "<td>" : "<td class=\"observed\">";
                html += "<div class=\"day\">" + std::to_string(d) + "</div>";
                if (day != m->second.end()) {
                    html += "<ul>";
                    for (const std::size_t i : day->second) {
                        const CatalogRecording& r = pages[i].recording;
                        const std::string time = r.observed.size() >= 16 ? r.observed.substr(11, 5) : r.observed;
                        html += "<li class=\"" + StatusClass(r.status) + "\"><a href=\"" + PageLink("", pages[i]) +
                                "\" title=\"" + Html(r.object) + "\">" + Html(time) + "</a> " + StatusHtml(r) +
                                "</li>";
                    }
                    html += "</ul>";
                }
                html += "</td>";
            }
            html += "</tr>\n";
        }
        html += "</table>\n";
    }
    if (!unknown.empty()) {
        html += "<h2 id=\"unknown\">Recordings of unknown time</h2>\n<p>Their headers could not be read.</p>\n<ul>\n";
        for (const std::size_t i : unknown) {
            const CatalogRecording& r = pages[i].recording;
            html += "<li><a href=\"" + PageLink("", pages[i]) + "\">" + Html(r.header) + "</a> " + StatusHtml(r) +
                    "</li>\n";
        }
        html += "</ul>\n";
    }
    return html + kPageEnd;
}

std::string RecordingPage(const std::vector<SitePage>& pages, std::size_t index) {
    const SitePage& page = pages.at(index);
    const CatalogRecording& r = page.recording;
    const std::string root = "../../";
    const std::string name = r.object.empty() ? r.header : r.object;
    std::string html = PageTop(name + " " + ShownTime(r.observed), root);

    int year = 0, month = 0, day = 0;
    // The month's anchor: digits and a dash (ObservedDay held them to that).
    std::string calendar = root + "index.html";
    if (ObservedDay(r.observed, year, month, day)) calendar += "#" + r.observed.substr(0, 7);
    else calendar += "#unknown";
    html += "<nav><a href=\"" + calendar + "\">Calendar</a> · <a href=\"" + root +
            "series.html\">Daily flux and active regions</a>";
    if (index > 0)
        html += " · <a href=\"" + PageLink(root, pages[index - 1]) + "\">← previous (" +
                Html(ShownTime(pages[index - 1].recording.observed)) + ")</a>";
    if (index + 1 < pages.size())
        html += " · <a href=\"" + PageLink(root, pages[index + 1]) + "\">next (" +
                Html(ShownTime(pages[index + 1].recording.observed)) + ") →</a>";
    html += "</nav>\n";

    html += "<h1>" + Html(name) + "</h1>\n<table class=\"facts\">\n";
    html += "<tr><th>Object</th><td>" + Html(r.object) + "</td></tr>\n";
    html += "<tr><th>Observed</th><td>" + Html(ShownTime(r.observed)) + "</td></tr>\n";
    html += "<tr><th>Header</th><td><code>" + Html(r.header) + "</code></td></tr>\n";
    html += "<tr><th>Output folder</th><td><code>" + Html(r.output) + "</code></td></tr>\n";
    html += "<tr><th>Status</th><td>" + StatusHtml(r) + "</td></tr>\n";
    if (!r.reason.empty()) html += "<tr><th>Reason</th><td>" + Html(r.reason) + "</td></tr>\n";
    html += "</table>\n";

    if (!r.warnings.empty()) {
        html += "<h2>Warnings</h2>\n<table>\n<tr><th>Warning</th><th>Channel</th><th>Message</th></tr>\n";
        for (const CatalogWarning& w : r.warnings)
            html += "<tr><td class=\"warn\">" + Html(w.id) + "</td><td>" +
                    (w.channel < 0 ? std::string("all") : std::to_string(w.channel)) + "</td><td>" +
                    Html(w.message) + "</td></tr>\n";
        html += "</table>\n";
    }

    html += "<h2>Pictures</h2>\n";
    if (r.status == "failed") {
        html += "<p class=\"missing\">No pictures: the conversion failed.</p>\n";
    } else if (!page.productsFound) {
        html += "<p class=\"missing\">No pictures: the recording's products have not been made.</p>\n";
    } else {
        for (const PagePicture& p : page.pictures) {
            html += "<h3>" + Html(p.title) + "</h3>\n";
            if (p.present) {
                html += "<p><img src=\"" + PercentEncoded(p.file) + "\"" + Dimensions(p.width, p.height) +
                        " alt=\"" + Html(p.title) + "\"></p>\n";
            } else {
                html += "<p class=\"missing\">Not drawn.";
                for (const std::string& note : NotesAbout(page.notes, p.file)) html += "<br>" + Html(note);
                html += "</p>\n";
            }
        }
    }

    bool anySource = false;
    for (const CatalogScanFile& s : r.scanFiles) anySource = anySource || !s.sources.empty();
    if (anySource) {
        html += "<h2>Compact sources</h2>\n<table class=\"numbers\">\n<tr><th>Frequency [GHz]</th><th>Track</th>"
                "<th>Offset [arcsec]</th><th>Width [arcsec]</th><th>Peak [K]</th><th>Flux [sfu]</th><th>V/I</th></tr>\n";
        for (const CatalogScanFile& s : r.scanFiles)
            for (const CatalogSource& c : s.sources)
                html += "<tr><td>" + Number("%.3f", s.frequency) + "</td><td>" +
                        (c.track < 0 ? std::string("–") : std::to_string(c.track)) + "</td><td>" +
                        WithError("%.1f", c.offset, c.offsetError) + "</td><td>" +
                        WithError("%.1f", c.width, c.widthError) + "</td><td>" +
                        WithError("%.1f", c.peak, c.peakError) + "</td><td>" +
                        WithError("%.2f", c.flux, c.fluxError) + "</td><td>" +
                        WithError("%.3f", c.vOverI, c.vOverIError) + "</td></tr>\n";
        html += "</table>\n";
    }

    if (!r.scanFiles.empty()) {
        html += "<h2>Scan files and the whole Sun's flux</h2>\n<table class=\"numbers\">\n<tr><th>Frequency [GHz]</th>"
                "<th>Whole Sun [sfu]</th><th>Scan file</th><th>FITS</th></tr>\n";
        for (const CatalogScanFile& s : r.scanFiles) {
            html += "<tr><td>" + Number("%.3f", s.frequency) + "</td><td>";
            if (s.hasFlux) html += WithError("%.2f", s.flux, s.fluxError);
            else if (!s.calibrated) html += "<span class=\"missing\">" + Html(s.refusal) + "</span>";
            html += "</td><td><a href=\"" + PercentEncoded(page.scanFolder + "/" + s.name) + "\">" + Html(s.name) +
                    "</a></td><td>";
            const std::string fits = s.name + ".fits";
            for (const std::string& f : page.fits)
                if (f == fits)
                    html += "<a href=\"" + PercentEncoded(std::string(kProductFitsFolder) + "/" + f) + "\">FITS</a>";
            html += "</td></tr>\n";
        }
        html += "</table>\n";
    }

    std::string files;
    if (page.explain) files += "<li><a href=\"" + std::string(kProductExplain) + "\">explain.json</a>: what the conversion decided</li>\n";
    if (page.sources) files += "<li><a href=\"" + std::string(kProductSources) + "\">sources.csv</a>: the compact sources</li>\n";
    if (page.wholeSun) files += "<li><a href=\"" + std::string(kProductWholeSunCsv) + "\">whole-sun.csv</a>: the whole Sun's flux</li>\n";
    if (!page.fits.empty()) {
        files += "<li>FITS files:";
        for (const std::string& f : page.fits)
            files += " <a href=\"" + PercentEncoded(std::string(kProductFitsFolder) + "/" + f) + "\">" + Html(f) + "</a>";
        files += "</li>\n";
    }
    if (!files.empty()) html += "<h2>Files</h2>\n<ul>\n" + files + "</ul>\n";
    return html + kPageEnd;
}

std::string SeriesPage(const SeriesContent& content) {
    std::string html = PageTop("Daily flux and active regions", "");
    html += "<nav><a href=\"index.html\">Calendar</a> · <b>Daily flux and active regions</b></nav>\n";
    html += "<h1>Daily flux and active regions</h1>\n";
    std::string frequencies;
    for (const double f : content.frequencies) frequencies += (frequencies.empty() ? "" : ", ") + Number("%g", f);
    html += "<h2 id=\"flux\">The whole Sun's daily flux at " + frequencies + " GHz</h2>\n";
    if (!content.fluxPicture.empty())
        html += "<p><img src=\"series/" + PercentEncoded(content.fluxPicture) + "\"" +
                Dimensions(content.fluxWidth, content.fluxHeight) + " alt=\"The whole Sun's daily flux\"></p>\n";
    else html += "<p class=\"missing\">Not drawn: no recording has a whole-Sun flux.</p>\n";
    html += "<p><a href=\"series/flux.csv\">flux.csv</a></p>\n";
    if (!content.flux.empty()) {
        html += "<table class=\"numbers\">\n<tr><th>Observed</th>";
        for (const double f : content.frequencies) html += "<th>" + Number("%g", f) + " GHz [sfu]</th>";
        html += "</tr>\n";
        for (const SeriesFluxRow& row : content.flux) {
            html += "<tr><td><a href=\"" + PercentEncoded(row.folder) + "/index.html\">" + Html(ShownTime(row.observed)) +
                    "</a></td>";
            for (const std::string& v : row.values) html += "<td>" + Html(v) + "</td>";
            html += "</tr>\n";
        }
        html += "</table>\n";
    }
    html += "<h2 id=\"regions\">Active regions across days</h2>\n";
    if (content.regions.empty()) {
        html += "<p class=\"missing\">No active region: no compact source has a track.</p>\n";
    } else {
        html += "<p><a href=\"series/regions.csv\">regions.csv</a></p>\n<table class=\"numbers\">\n<tr><th>Region</th>"
                "<th>First day</th><th>Last day</th><th>Days seen</th><th>Latitude [°]</th></tr>\n";
        for (const SeriesRegion& g : content.regions) {
            const std::string number = std::to_string(g.number);
            html += "<tr><td><a href=\"#region-" + number + "\">" + number + "</a></td><td>" + Html(g.firstDay) +
                    "</td><td>" + Html(g.lastDay) + "</td><td>" + std::to_string(g.days) + "</td><td>" +
                    Number("%.1f", g.latitudeLow) + " to " + Number("%.1f", g.latitudeHigh) + "</td></tr>\n";
        }
        html += "</table>\n";
        for (const SeriesRegion& g : content.regions) {
            const std::string number = std::to_string(g.number);
            html += "<h3 id=\"region-" + number + "\">Region " + number + "</h3>\n";
            if (g.picture.empty()) html += "<p class=\"missing\">Not drawn.</p>\n";
            else
                html += "<p><img src=\"series/" + PercentEncoded(g.picture) + "\"" + Dimensions(g.width, g.height) +
                        " alt=\"Region " + number + " day by day\"></p>\n";
        }
    }
    if (!content.notes.empty()) {
        html += "<h2>Notes</h2>\n<ul>\n";
        for (const std::string& note : content.notes) html += "<li>" + Html(note) + "</li>\n";
        html += "</ul>\n";
    }
    return html + kPageEnd;
}

std::string StyleSheet() {
    return "body { font-family: sans-serif; margin: 1em 2em; color: #222; }\n"
           "nav { margin-bottom: 1em; }\n"
           "img { max-width: 100%; height: auto; }\n"
           "table { border-collapse: collapse; margin: 0.5em 0; }\n"
           "th, td { border: 1px solid #ccc; padding: 2px 6px; vertical-align: top; text-align: left; }\n"
           "table.numbers td { font-variant-numeric: tabular-nums; white-space: nowrap; }\n"
           "table.month { table-layout: fixed; width: 100%; }\n"
           "table.month td { height: 4em; font-size: 90%; }\n"
           "table.month td.empty { background: #f4f4f4; }\n"
           "table.month ul { list-style: none; margin: 0; padding: 0; }\n"
           "div.day { color: #888; font-size: 85%; }\n"
           ".ok { color: #1a7f1a; }\n"
           ".warn { color: #c00; }\n"
           ".fail { color: #c00; font-weight: bold; }\n"
           ".missing { color: #777; font-style: italic; }\n"
           "code { word-break: break-all; }\n";
}

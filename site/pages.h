// The site's pages as texts, from plain records: what BuildSite has read
// from the catalog and found in the products folders. Nothing here touches
// the file system.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "catalog/catalog.h"

// One picture of a recording's products folder as its page shows it.
struct PagePicture {
    std::string file;      // "overview.png", ...
    std::string title;     // "Overview", ...
    bool present = false;
    int width = 0, height = 0;  // pixels, 0: not known
};

// A recording with what its page shows beside the catalog's entry.
struct SitePage {
    CatalogRecording recording;
    std::string folder;      // "r/<16 hex digits>", from the site's folder
    std::string scanFolder;  // the output folder, relative to the page's folder
    bool productsFound = false;          // the products folder exists
    std::vector<PagePicture> pictures;   // in kPagePictures order
    std::vector<std::string> notes;      // notes.txt, one line each
    std::vector<std::string> fits;       // the names in fits/, sorted
    bool explain = false, sources = false, wholeSun = false;  // the products' files present
};

// The pictures of a recording's page, in page order: file and title.
extern const std::array<std::array<const char*, 2>, 5> kPagePictures;

// Whether an observed time is a real one ("YYYY-MM-DD..." with a month and
// a day), and its year, month and day.
bool ObservedDay(const std::string& observed, int& year, int& month, int& day);

// The weeks of a month, Monday first: each day's number, 0 where a week
// reaches into the month before or after.
std::vector<std::array<int, 7>> MonthWeeks(int year, int month);

// The warnings' ids with their counts, in the order first seen: "ar-short ×2, dc-jump".
std::string WarningIds(const std::vector<CatalogWarning>& warnings);

// The calendar (index.html); `pages` ordered by observed time.
std::string CalendarPage(const std::vector<SitePage>& pages);

// Recording `index`'s page; previous and next are its neighbours in `pages`.
std::string RecordingPage(const std::vector<SitePage>& pages, std::size_t index);

struct SeriesFluxRow {
    std::string observed, day, folder;  // folder: the recording's, from the site's folder
    std::vector<std::string> values;    // per frequency: "flux ± error" or empty
};

struct SeriesRegion {
    int number = 0;
    std::string firstDay, lastDay;
    int days = 0;
    double latitudeLow = 0.0, latitudeHigh = 0.0;
    std::string picture;  // "region-0001.png", empty when not drawn
    int width = 0, height = 0;
};

struct SeriesContent {
    std::vector<double> frequencies;  // GHz
    std::string fluxPicture;          // "flux.png", empty when not drawn
    int fluxWidth = 0, fluxHeight = 0;
    std::vector<SeriesFluxRow> flux;
    std::vector<SeriesRegion> regions;
    std::vector<std::string> notes;
};

// series.html.
std::string SeriesPage(const SeriesContent& content);

// style.css.
std::string StyleSheet();

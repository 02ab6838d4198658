// The static quick-look site over the catalog: plain HTML with the products'
// pictures, working from a file system or any web server, offline.
//
//   SITE/index.html          the calendar: month by month, day by day, each
//                            recording with its status (converted; warnings
//                            in red with their ids; failed with the reason)
//   SITE/series.html         the daily whole-Sun flux at chosen frequencies
//                            and the active regions across days
//   SITE/series/             its pictures and CSV files
//   SITE/r/<key>/index.html  a recording's page, beside its products
//                            (products.h); links to the scan files in the
//                            output folder, the FITS files, explain's JSON
//
// Every text from a recording (object name, file and folder names, warning
// messages, reasons) is escaped; links are percent-encoded.
#pragma once
#include <string>
#include <vector>

struct SiteOptions {
    std::string catalog;              // the archive's catalog
    std::string site;                 // the site's folder (created when missing)
    std::vector<double> frequencies;  // GHz, for the daily series; empty: 1.4, 2.8 and 5.7
};

struct SiteReport {
    int pages = 0;    // pages and pictures made
    int written = 0;  // of those, written because their bytes changed
    std::vector<std::string> notes;  // what could not be shown (a series with nothing to draw, ...)
};

// The products folder of the recording of `header` (its path relative to
// the archive) within the site: "r/" and 16 hexadecimal digits of a digest
// of the path, so that no name from the archive reaches a URL.
std::string RecordingSiteFolder(const std::string& header);

// Makes every page anew in memory and writes only those whose bytes changed
// (each written beside its place and renamed into it). False with a message
// naming the file on a catalog or file error.
bool BuildSite(const SiteOptions& options, SiteReport& report, std::string& error);

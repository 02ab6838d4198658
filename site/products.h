// The quick-look products of one recording, made once after its conversion
// into a folder of its own: what its page on the site shows and links to.
#pragma once
#include <string>
#include <vector>

#include "catalog/catalog.h"

// The files of a products folder. A picture that cannot be drawn (no scan
// file calibrates, no compact source) is left out and the reason kept in
// notes.txt, one line each; the page says so where the picture would be.
constexpr const char* kProductExplain = "explain.json";       // vm-scan explain --json
constexpr const char* kProductOverview = "overview.png";      // every scan file's RR, with the warnings shaded
constexpr const char* kProductCalibratedI = "calibrated-i.png";
constexpr const char* kProductCalibratedV = "calibrated-v.png";
constexpr const char* kProductSpectrum = "spectrum.png";      // the compact sources against frequency
constexpr const char* kProductWholeSun = "whole-sun.png";     // the whole Sun's flux against frequency
constexpr const char* kProductSources = "sources.csv";        // vm-scan sources
constexpr const char* kProductWholeSunCsv = "whole-sun.csv";  // vm-scan flux
constexpr const char* kProductFitsFolder = "fits";            // <scan file name>.fits, as vm-scan fits writes them
constexpr const char* kProductNotes = "notes.txt";

struct ProductsRequest {
    CatalogInput input;  // the recording as the catalog takes it
    std::string folder;  // the products folder; made anew, whole, in place of an earlier one
    unsigned jobs = 0;   // scan files calibrated at once; 0: one per processor
    std::string fitsDate;  // the FITS files' DATE card ("YYYY-MM-DDThh:mm:ss", EpochInstant); empty: now
};

// Calibrates the recording's scan files once and from that calibration both
// writes the products and makes the recording's catalog entry (the entry
// MakeCatalogRecording makes). The folder is written beside its place and
// renamed into it, so that it is never seen half-written. A failed recording
// gets explain.json alone (when its header reads). False with a message
// naming the file when the folder cannot be written; `entry` is made even then.
bool MakeRecordingProducts(const ProductsRequest& request, CatalogRecording& entry, std::string& error);

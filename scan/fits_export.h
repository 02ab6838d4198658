// vm-scan fits: a scan file as a standard FITS image (written with CFITSIO):
// the points along axis 1 (offset from the meridian centre), RR and LL along
// axis 2 (STOKES), the frequency along axis 3.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "output/scan_reader.h"
#include "scan/scan_quality.h"

struct FitsOptions {
    std::vector<std::string> scanFiles;
    std::string indexPath;     // instead of scanFiles: every scan file the index lists
    std::string outputFolder;  // receives <scan file name>.fits
    bool sourceDateEpochSet = false;
    std::string sourceDateEpoch;  // seconds since 1970, for the DATE card
    // The recording the scan files were converted from (empty: none): its
    // warnings as header cards and a QUALITY image of the points' flags.
    std::string recordingHeader;
    std::string tablePath;      // its calibration table
    bool backRule = false;      // it was converted with a third argument
};

// "YYYY-MM-DDThh:mm:ss.sss" of the scan's DATE-OBS and TIME-OBS (a time that
// rounds to 60 seconds carries into the next minute). False when they do not
// give a calendar date and time of the years 1 to 9999.
bool ObservationInstant(const ScanFileContents& scan, std::string& iso);
// "YYYY-MM-DDThh:mm:ss" of a count of seconds since 1970-01-01T00:00:00.
bool EpochInstant(const std::string& seconds, std::string& iso);

// "YYYY-MM-DDThh:mm:ss" of the current time (UTC).
std::string CurrentInstant();

// True when the scan file's CDELT1 or PMCSUN leaves no offset axis: axis 1
// of the FITS file then counts the places of the points (CTYPE1 'PLACE'),
// and a warning card says why.
bool OffsetAxisIsDegenerate(const ScanFileContents& scan);

// Writes the FITS file at `fitsPath` (replacing one that is there; a file
// that cannot be written completely is not left behind). `sourceName` names
// the scan file in the HISTORY card; `date` is the DATE card's value (when
// the file is written). With `quality`, the recording's warnings become
// QWARNn cards and the points' flags a QUALITY image extension.
bool WriteScanFits(const ScanFileContents& scan, const std::string& sourceName,
                   const std::string& fitsPath, const std::string& date,
                   const ScanFileQuality* quality, std::string& error);

// The subcommand: 0 when every FITS file was written, 1 otherwise (each
// failure named on `err`).
int FitsCommand(const FitsOptions& options, std::ostream& out, std::ostream& err);

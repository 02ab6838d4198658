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
    // The recording the scan files were converted from (none: no header):
    // its warnings as header cards and a QUALITY image of the points' flags.
    RecordingOptions recording;
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

// What goes along the STOKES axis, and in which unit: by default RR (the al
// block) and LL (the ar block) as the scan file holds them.
struct FitsPlane {
    int stokes = 0;          // the STOKES code: -1 RR, -2 LL, 1 I, 4 V
    std::string comment;     // of its CRVAL2 (first plane) or CDELT2 (second) card
    std::vector<float> values;  // NAXIS1 of them
};
struct FitsPlanes {
    std::vector<FitsPlane> planes;  // 1 or 2, their STOKES codes evenly spaced
    std::string unit;               // BUNIT; none when empty
    std::string unitComment;
    std::vector<std::string> history;  // after the HISTORY card naming the scan file
    struct Card {
        std::string keyword, comment;
        double value = 0.0;
    };
    std::vector<Card> cards;  // more values, after the scan file's own
};
// RR and LL of the scan file, its physical values v x BSCALE + BZERO, in
// recorder units (BUNIT 'adu').
FitsPlanes RecordedPlanes(const ScanFileContents& scan);

// Writes the FITS file at `fitsPath` (replacing one that is there; a file
// that cannot be written completely is not left behind). `sourceName` names
// the scan file in the HISTORY card; `date` is the DATE card's value (when
// the file is written). With `quality`, the recording's warnings become
// NQWARN and QWARNn cards and the points' flags a QUALITY image extension.
// Without it, `recordingChecked` says that the recording was checked all the
// same and no warning concerns the file (NQWARN 0); when it was not checked,
// there is no NQWARN card but a COMMENT saying so.
bool WriteScanFits(const ScanFileContents& scan, const FitsPlanes& planes, const std::string& sourceName,
                   const std::string& fitsPath, const std::string& date,
                   const ScanFileQuality* quality, bool recordingChecked, std::string& error);

// The FITS file of the scan file at `path`, read as `scan`, in recorder
// units: with `recording` (planned with PlanRecordingOfScanFiles), its
// warnings and the QUALITY image; false with the reason (the quality's error
// when the recording does not give the scan file).
bool WriteRecordedFits(const std::string& path, const ScanFileContents& scan, const RecordingExplanation* recording,
                       const std::string& fitsPath, const std::string& date, std::string& error);

// The subcommand: 0 when every FITS file was written, 1 otherwise (each
// failure named on `err`).
int FitsCommand(const FitsOptions& options, std::ostream& out, std::ostream& err);

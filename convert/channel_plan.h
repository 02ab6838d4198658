// What the conversion of a recording decides, as data: the run's marker path,
// scan number, base name and repair rule, and for each channel whether it gets
// a scan file, under which name, with which values, or the one reason why not.
// The channel conversion loop converts by these decisions; vm-scan shows them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/repair.h"
#include "inputs/calibration.h"
#include "inputs/observation_header.h"
#include "inputs/sample_files.h"
#include "output/scan_output.h"
#include "platform/paths.h"

// Where the scan number of a run was found.
enum class ScanNumberSource {
    FirstDot,    // right after the first "." of the marker file's name
    NameLastDot, // right after the last "." of the file name
    None,        // neither holds a number: 0
};

struct ScanNumber {
    int number = 0;
    ScanNumberSource source = ScanNumberSource::None;
};

// Scan number from the marker path: the decimal number right after the
// first "." of the file name (the text after the last `separator`; white
// space and a sign may come first, as "%d" reads), so that a dot in a folder
// name plays no part; when there is none, the number right after the last
// "." of the file name; 0 when there is neither. Numbers beyond the int
// range are held at its limits.
ScanNumber FindScanNumber(const std::string& markerPath, char separator = kFolderSeparator);
int ScanNumberFromPath(const std::string& markerPath, char separator = kFolderSeparator);

// The header path with its last character replaced by "p".
std::string MarkerPathOf(const std::string& headerPath);

// "s%02d%x%02d" of day, month and year - 2000 (5 November 2003: "s05b03").
std::string BaseName(int16_t day, int16_t month, int16_t year);

// TCALIBR of a channel: (T[d+8] - T[d]) x 0.1 from the 66 calibration levels
// T; 0 for d = 0 and for d outside 1..57, whose entries lie outside the table.
float CalibrationStep(const int16_t* calibrationLevels, int16_t calibrationIndex);

// Path of a sample file: "<input folder><separator>al<channel>" (or ar). A
// header given as a bare file name (no separator at all) has an empty input
// folder; its sample files are then read beside it, as "al<channel>".
std::string SampleFilePath(const std::string& inputFolder, bool headerHasFolder, SampleFileKind kind,
                           int channel);

// The channel frequency as the 32-bit float handed to the calibration lookup;
// frequencies beyond the float range become infinite.
float NarrowFrequency(double frequency);

// What the conversion reads, as the run context holds it.
struct RunInputs {
    std::string inputHeaderPath;  // as chosen, before the marker path replaces it
    std::string inputFolder;
    int32_t repairMode = kTwoSidedExtrapolation;
    std::string calibrationTablePath;
    int64_t headerLength = -1;  // bytes of the header file (kLongerHeader: more than a header); -1 when not known
};

// The decisions made once per run.
struct RunPlan {
    RunInputs inputs;
    bool headerHasFolder = false;
    std::string markerPath;
    bool markerFileRead = false;   // false: it cannot be opened and nothing is written
    int64_t markerFileLength = -1; // its bytes; -1 when it was not read
    std::vector<int16_t> markers;  // its 16-bit values (empty with repair mode 0)
    bool tableReadable = false;    // the calibration table can be opened and read
    int tableRows = 0;             // its rows of numbers
    ScanNumber scanNumber;
    std::string baseName;
    std::string scanIndexName;  // without its folder
    // The run's pointing values, the object-name override applied: every
    // scan file carries the same.
    PointingValues pointing;
};

// Reads the marker file (unless the repair mode is 0), names the outputs and
// derives the pointing values.
RunPlan PlanRun(const RunInputs& inputs, const ObservationHeader& header);

// Why a channel gets no scan file; ScanFile when it gets one.
enum class ChannelVerdict {
    ScanFile,
    MarkerFileMissing,   // the run writes nothing
    Disabled,
    LeftMissing,         // the al file cannot be opened
    RightMissing,        // the ar file cannot be opened
    NoCalibration,       // the lookup gave no values (calibration.result says why)
    ZeroCalibration,     // a calibration value is 0
};

// One sample file of a channel.
struct SampleFilePlan {
    std::string path;
    bool found = false;
    int64_t bytes = -1;  // the file's length; -1 when it was not looked at
    // Whole floats the file holds (for the al file the sample count n; the
    // conversion takes at most n of the ar file's). -1 when not looked at.
    int32_t samples = -1;
    // Samples of this polarisation that reach the scaling as infinities or
    // NaNs (as read, or made so by the repair); they are stored as 0.
    int32_t notFinite = 0;
    RepairReport repair;  // what the repair did to this polarisation
};

// A pair of the marker list that selects the channel, and what it did.
struct ChannelMarker {
    ChannelMarkerPair pair;
    // For collected markers that were applied: what each did to al and ar.
    bool applied = false;
    int32_t rangeEnd = 0;
    MarkerEffect left = MarkerEffect::OutsideSamples;
    MarkerEffect right = MarkerEffect::OutsideSamples;
};

// Everything decided for one channel.
struct ChannelPlan {
    int channel = 0;
    bool enabled = false;
    int16_t calibrationIndex = 0;
    float calibrationStep = 0.0f;  // TCALIBR
    double frequency = 0.0;        // GHz, as stored
    SampleFilePlan left;           // al
    SampleFilePlan right;          // ar
    bool calibrationLooked = false;
    CalibrationLookup calibration;
    ChannelVerdict verdict = ChannelVerdict::Disabled;
    // Its name without folder when the verdict is ScanFile (assuming it can be
    // created); its number, the scan counter.
    std::string scanFileName;
    int scanCounter = 0;
    // The scan file's values; the blocks are filled once both are scaled.
    ScanChannel scan;
    // With PlanOptions::inspect: every pair of the marker list that selects
    // the channel, collected or passed over, with what each did.
    std::vector<ChannelMarker> markers;
    // With PlanOptions::keepSamples: each polarisation as read and as repaired
    // (the samples handed to the scaling).
    std::vector<float> leftRead, leftRepaired, rightRead, rightRepaired;
};

struct PlanOptions {
    // Also look at what the conversion itself does not need: sample files of
    // channels it passes over, the ar file's whole length, the pairs of the
    // marker list that are passed over.
    bool inspect = false;
    bool keepSamples = false;
};

// Decides channel `c` of a planned run; `scanCounter` is the number its scan
// file gets (one more than that of the last scan file created).
ChannelPlan PlanChannel(const RunPlan& run, const ObservationHeader& header, int c,
                        int scanCounter, const PlanOptions& options = {});

// All 64 channels in order, each scan file numbered after the one before.
std::vector<ChannelPlan> PlanChannels(const RunPlan& run, const ObservationHeader& header,
                                      const PlanOptions& options = {});

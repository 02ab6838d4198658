// What a recording's warnings mean for one of its scan files: the warnings
// that concern it (the recording's own and its channel's) and, for every
// point of both blocks, flags of what is wrong with it. The FITS export writes
// the flags as its QUALITY image, the pictures shade the flagged points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/run_warnings.h"
#include "output/scan_reader.h"
#include "scan/explain.h"

// Flags of one point (bits of the QUALITY image).
enum QualityFlag : uint8_t {
    kQualityGood = 0,
    kQualityFromAl = 1,      // an LL point that holds the repaired al value (its ar file is short)
    kQualityNotFinite = 2,   // the sample was not a finite number where the scaling took it: stored as 0
};
// The flags and their meanings, in bit order ("LL value taken from al", ...).
struct QualityFlagName {
    QualityFlag flag;
    const char* name;     // short, for legends and header cards
};
extern const QualityFlagName kQualityFlagNames[];
extern const int kQualityFlagCount;

struct ScanFileQuality {
    int channel = -1;
    std::vector<RunWarning> warnings;  // the recording's, then the channel's
    // Per point, in the scan file's order (the last sample first); block 0 is
    // the al block (RR), block 1 the ar block (LL).
    std::vector<uint8_t> flags[2];
};

// The recording scan files were converted from, as the tools are told it
// (--recording HEADER [--cfg TABLE] [--third THIRD]).
struct RecordingOptions {
    std::string headerPath;  // empty: none given
    bool thirdArgument = false;
    std::string tablePath;
};

// The recording of a scan file, planned as 'vm-fits HEADER OUT [THIRD]' would
// convert it, with the samples kept (what QualityOfScanFile needs).
bool PlanRecordingOfScanFiles(const std::string& headerPath, bool thirdArgument,
                              const std::string& tablePath, RecordingExplanation& recording,
                              std::string& error);

// The channel of the recording that gave the scan file `scanName` (its name
// without folder), read as `scan`. Null with a message when the recording
// gives no scan file of that name, or one of another length or frequency
// (the file is not from it).
const ChannelPlan* ChannelOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                                     const ScanFileContents& scan, std::string& error);

// The quality of the scan file `scanName`, read as `scan`. False with the
// message of ChannelOfScanFile when the file is not from the recording.
bool QualityOfScanFile(const RecordingExplanation& recording, const std::string& scanName,
                       const ScanFileContents& scan, ScanFileQuality& quality, std::string& error);

// The flags of one polarisation of a planned channel (planned with the
// samples kept), sample by sample in the recording's order (block 0: al,
// block 1: ar); a scan file holds them last sample first.
std::vector<uint8_t> SampleQualityFlags(const ChannelPlan& channel, int block);

// How many points of a block carry `flag`.
std::size_t FlaggedPoints(const std::vector<uint8_t>& flags, QualityFlag flag);

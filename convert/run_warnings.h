// What is damaged or odd in a recording, as warnings: read from the same run
// plan and channel plans that the conversion follows, so that vm-fits, explain,
// the FITS export, the pictures and vm-batch all tell one story. A warning
// never changes what is converted.
#pragma once

#include <string>
#include <vector>

#include "convert/channel_plan.h"
#include "convert/warning_ids.h"
#include "inputs/observation_header.h"

// The channel of a warning about the recording as a whole.
constexpr int kWholeRecording = -1;

struct RunWarning {
    WarningId id = WarningId::HeaderShort;  // printed as its WarningName
    int channel = kWholeRecording;
    std::string message;  // names the file and the figure
};

// Warnings about the recording as a whole: the header's length, a year
// before 2000, the calibration table, the marker file, the step between
// points and the radius.
std::vector<RunWarning> RunWarnings(const RunPlan& run, const ObservationHeader& header);

// Warnings about one enabled channel: a sample file that cannot be opened;
// for one whose sample files were read, their lengths, samples that are not
// finite numbers, markers outside its samples. None for a disabled channel
// or a run without its marker file.
std::vector<RunWarning> ChannelWarnings(const RunPlan& run, const ChannelPlan& channel);

// RunWarnings, then the ChannelWarnings of each channel in channel order.
std::vector<RunWarning> RecordingWarnings(const RunPlan& run, const ObservationHeader& header,
                                          const std::vector<ChannelPlan>& channels);

// False for a warning about the recording's names alone (year-before-2000):
// the values converted are as recorded.
bool WarningConcernsValues(const RunWarning& warning);

// "name: message", the form of a warning on one line.
std::string WarningLine(const RunWarning& warning);

// True when the step between points or the radius leaves no offset axis: a
// step that prints as 0.0000 (or is not a finite number), a radius of 0 or less.
bool StepIsDegenerate(float step);
bool RadiusIsDegenerate(int32_t radius);

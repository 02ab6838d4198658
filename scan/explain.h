// vm-scan explain: what vm-fits decides for a recording, run and channel by
// channel, without writing anything.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "convert/channel_plan.h"
#include "convert/run_warnings.h"
#include "inputs/observation_header.h"
#include "json/json.h"

struct ExplainOptions {
    std::string headerPath;
    bool thirdArgument = false;  // vm-fits HEADER OUT THIRD: back extrapolation
    std::string tablePath;       // the calibration table
    bool json = false;
};

// A recording as vm-fits would convert it.
struct RecordingExplanation {
    std::string headerPath;
    ObservationHeader header;
    RunPlan run;
    std::vector<ChannelPlan> channels;  // 0 to 63
    std::vector<RunWarning> warnings;   // the recording's, then each channel's
};

// Reads the header and plans the run and every channel (files inspected; with
// `keepSamples` each polarisation as read and as repaired is kept). False
// with "Can't open HEADER" when the header cannot be read.
bool ExplainRecording(const std::string& headerPath, bool thirdArgument, const std::string& tablePath,
                      bool keepSamples, RecordingExplanation& explanation, std::string& error);

// The one reason a channel gets no scan file; empty when it gets one.
std::string ChannelReason(const ChannelPlan& channel);

// "two-sided extrapolation" or "back extrapolation".
const char* RuleName(const RunPlan& run);
// Notes on a channel's markers: markers that change nothing and why, markers
// whose range is empty, pairs passed over.
std::vector<std::string> MarkerNotes(const RecordingExplanation& explanation, const ChannelPlan& channel);
// The warnings of one channel (kWholeRecording: of the recording as a whole).
std::vector<RunWarning> WarningsOf(const RecordingExplanation& explanation, int channel);
// "7 scan files, 54 channels disabled, 3 skipped (1 ar file missing, 2 without
// calibration values), 1 warning".
std::string SummaryLine(const RecordingExplanation& explanation);
// True for a pair that changes no sample of either polarisation: passed over,
// or collected but without effect in al and in ar.
bool MarkerChangesNothing(const ChannelMarker& marker);
// Why a pair of the channel is passed over.
std::string PassedOverReason(const ChannelMarkerPair& pair);

// What --json writes: the run, the warnings (id, channel, message), the
// summary line and each channel with its plan (scan file or reason).
Json ExplanationJson(const RecordingExplanation& explanation);

void WriteExplanationText(const RecordingExplanation& explanation, std::ostream& out);
void WriteExplanationJson(const RecordingExplanation& explanation, std::ostream& out);

// The subcommand: 0, or 2 when the header cannot be read.
int ExplainCommand(const ExplainOptions& options, std::ostream& out, std::ostream& err);

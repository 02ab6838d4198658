// vm-scan explain: what vm-fits decides for a recording, run and channel by
// channel, without writing anything.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "convert/channel_plan.h"
#include "inputs/observation_header.h"

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
    bool tableReadable = false;
    std::vector<ChannelPlan> channels;  // 0 to 63
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
// Notes on a channel: its ar file's length when it differs from n (sample
// file notes); markers that change nothing and why, markers whose range is
// empty, pairs passed over (marker notes). ChannelNotes gives both.
std::vector<std::string> SampleFileNotes(const ChannelPlan& channel);
std::vector<std::string> MarkerNotes(const RecordingExplanation& explanation, const ChannelPlan& channel);
std::vector<std::string> ChannelNotes(const RecordingExplanation& explanation, const ChannelPlan& channel);
// True for a pair that changes no sample of either polarisation: passed over,
// or collected but without effect in al and in ar.
bool MarkerChangesNothing(const ChannelMarker& marker);
// Why a pair of the channel is passed over.
std::string PassedOverReason(const ChannelMarkerPair& pair);

void WriteExplanationText(const RecordingExplanation& explanation, std::ostream& out);
void WriteExplanationJson(const RecordingExplanation& explanation, std::ostream& out);

// The subcommand: 0, or 2 when the header cannot be read.
int ExplainCommand(const ExplainOptions& options, std::ostream& out, std::ostream& err);

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

void WriteExplanationText(const RecordingExplanation& explanation, std::ostream& out);
void WriteExplanationJson(const RecordingExplanation& explanation, std::ostream& out);

// The subcommand: 0, or 2 when the header cannot be read.
int ExplainCommand(const ExplainOptions& options, std::ostream& out, std::ostream& err);

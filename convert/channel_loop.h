// The channel conversion loop: every enabled channel with both sample files
// and full calibration values becomes one numbered scan file and one line of
// the scan index.
#pragma once

#include <string>
#include <vector>

#include "convert/channel_plan.h"
#include "convert/run_warnings.h"
#include "convert/status_sink.h"

struct ChannelLoopResult {
    RunPlan plan;     // the marker path, the names, the pointing values
    bool allWritten = false;
    std::string scanIndexPath;           // empty when it could not be created
    std::vector<std::string> scanFiles;  // the paths written, in order
    std::vector<RunWarning> warnings;    // as told to the sink
};

// Converts the recording of `inputs` into `outputFolder`. `allWritten` is
// false when the marker file or the scan index could not be opened (nothing
// is written then), or when a scan file or the scan index could not be
// created or written completely; each such failure goes to the sink's status
// line, each warning to its warnings.
ChannelLoopResult ConvertChannels(const RunInputs& inputs, const ObservationHeader& header,
                                  const std::string& outputFolder, int32_t calibrationFlag,
                                  const StatusSink& sink);

// vm-scan plot, overview and repair-plot: pictures of a scan file, of a whole
// run across frequencies, and of the jump repair of one channel.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "scan/plot_data.h"
#include "scan/plots.h"
#include "scan/scan_quality.h"

struct PictureOptions {
    std::string outputPath;  // PNG when it ends in ".png", SVG when in ".svg"
    PictureSize size;
};

// Writes the picture where the options say: 0 after "wrote OUT" on `out`, 1
// with the reason on `err` when it cannot be written.
int WrittenPicture(const PlotPicture& picture, const PictureOptions& options, std::ostream& out, std::ostream& err);

// The scan files at `paths` read for the overview, named by their paths;
// false with the reason when one cannot be read.
bool ReadNamedScans(const std::vector<std::string>& paths, std::vector<NamedScan>& scans, std::string& error);
// Each scan file's quality from its planned recording (PlanRecordingOfScanFiles);
// false with the reason when the recording does not give one of them.
bool AddPictureQualities(const RecordingExplanation& recording, std::vector<NamedScan>& scans, std::string& error);

// Each subcommand: 0 after "wrote OUT" on `out`; 1 with a message on `err`
// when an input cannot be read or drawn, a scan file is not one the
// recording gives, or the picture cannot be written; 2 when the recording's
// header cannot be read, as for explain.
int PlotCommand(const std::string& scanPath, const RecordingOptions& recording, const PictureOptions& options,
                std::ostream& out, std::ostream& err);
int OverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                    const RecordingOptions& recording, const PictureOptions& options, std::ostream& out,
                    std::ostream& err);
// The same without a recording.
int PlotCommand(const std::string& scanPath, const PictureOptions& options, std::ostream& out,
                std::ostream& err);
int OverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                    const PictureOptions& options, std::ostream& out, std::ostream& err);
// The recording is planned as 'vm-fits HEADER OUT [THIRD]' would convert it;
// 2 when the header cannot be read, as for explain.
int RepairPlotCommand(const std::string& headerPath, int channel, bool thirdArgument,
                      const std::string& tablePath, const PictureOptions& options, std::ostream& out,
                      std::ostream& err);

#include "scan/plot_commands.h"

#include <vector>

#include "scan/scan_file_commands.h"

namespace {

int Written(const PlotPicture& picture, const PictureOptions& options, std::ostream& out,
            std::ostream& err) {
    std::string error;
    if (!WritePicture(picture, options.size, options.outputPath, error)) {
        err << error << "\n";
        return 1;
    }
    out << "wrote " << options.outputPath << "\n";
    return 0;
}

int Failed(const std::string& error, std::ostream& err) {
    err << error << "\n";
    return 1;
}

}  // namespace

int PlotCommand(const std::string& scanPath, const PictureOptions& options, std::ostream& out,
                std::ostream& err) {
    ScanFileContents scan;
    std::string error;
    PlotPicture picture;
    if (!ReadScanFile(scanPath, scan, error) || !ScanPicture(scan, scanPath, picture, error))
        return Failed(error, err);
    return Written(picture, options, out, err);
}

int OverviewCommand(const std::string& indexPath, OverviewPolarisation polarisation,
                    const PictureOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<ScanIndexEntry> entries;
    std::string error;
    if (!ReadScanIndex(indexPath, entries, error)) return Failed(error, err);
    if (entries.empty()) return Failed(indexPath + ": the index lists no scan files", err);
    std::vector<NamedScan> scans;
    for (const std::string& path : ScanFilePathsOfIndex(indexPath, entries)) {
        NamedScan named;
        named.name = path;
        if (!ReadScanFile(path, named.scan, error)) return Failed(error, err);
        scans.push_back(std::move(named));
    }
    PlotPicture picture;
    if (!OverviewPicture(scans, polarisation, picture, error)) return Failed(error, err);
    return Written(picture, options, out, err);
}

int RepairPlotCommand(const std::string& headerPath, int channel, bool thirdArgument,
                      const std::string& tablePath, const PictureOptions& options, std::ostream& out,
                      std::ostream& err) {
    RecordingExplanation explanation;
    std::string error;
    if (!ExplainRecording(headerPath, thirdArgument, tablePath, true, explanation, error)) {
        err << error << "\n";
        return 2;
    }
    PlotPicture picture;
    if (!RepairPicture(explanation, channel, picture, error)) return Failed(error, err);
    return Written(picture, options, out, err);
}

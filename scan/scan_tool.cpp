#include "scan/scan_tool.h"

#include <CLI/CLI.hpp>

#include "scan/explain.h"
#include "scan/fits_export.h"
#include "scan/plot_commands.h"
#include "scan/scan_file_commands.h"

namespace {

constexpr int kExitUsage = 2;

const char* const kExitCodes =
    "Exit codes: 0 done, 1 a scan file or index that cannot be read or is malformed, a channel "
    "that cannot be drawn (or a FITS file or picture that cannot be written), 2 bad usage or a "
    "header that cannot be read.";

// -o and --size of a picture subcommand.
void AddPictureOptions(CLI::App* command, PictureOptions& picture) {
    command->add_option("-o,--output", picture.outputPath, "the picture: PNG when it ends in .png, SVG in .svg")
        ->type_name("OUT")
        ->required()
        ->check([](const std::string& path) {
            PictureFormat format;
            return PictureFormatOfPath(path, format) ? std::string() : NotAPictureName(path);
        });
    command
        ->add_option_function<std::string>(
            "--size",
            [&picture](const std::string& text) {
                std::string error;
                if (!ParsePictureSize(text, picture.size, error)) throw CLI::ValidationError("--size", error);
            },
            "WIDTHxHEIGHT in pixels (default 1200x800)")
        ->type_name("WxH");
}

// --recording, --cfg and --third of plot and overview.
void AddRecordingOptions(CLI::App* command, RecordingOptions& recording, std::string& third) {
    CLI::Option* header = command->add_option(
        "--recording", recording.headerPath,
        "the observation header the scan files were converted from: shades the points its warnings "
        "touch and lists the warnings")
        ->type_name("HEADER");
    command->add_option("--cfg", recording.tablePath, "the calibration table (default: vm-fits.cfg beside vm-scan)")
        ->type_name("TABLE")
        ->needs(header);
    command->add_option("--third", third,
                        "any text: the recording was converted with vm-fits's third argument (back "
                        "extrapolation)")
        ->type_name("THIRD")
        ->needs(header);
}

}  // namespace

int RunScanTool(int argc, const char* const* argv, const ScanToolContext& context,
                std::ostream& out, std::ostream& err) {
    CLI::App app("Explains what vm-fits does with a recording, reads scan files back, exports "
                 "them as FITS and draws them.",
                 "vm-scan");
    app.footer(kExitCodes);
    app.require_subcommand(1);

    ExplainOptions explain;
    std::string third;
    CLI::App* explainCommand = app.add_subcommand(
        "explain",
        "Reads a recording as 'vm-fits HEADER OUT [THIRD]' would and tells, per run and per "
        "channel 0 to 63, what it decides and why a channel gets no scan file. Writes nothing.");
    explainCommand->add_option("HEADER", explain.headerPath, "the observation header file")->required();
    explainCommand->add_option("THIRD", third,
                               "any text: the jump repair by back extrapolation, as vm-fits's "
                               "third argument");
    explainCommand->add_option("--cfg", explain.tablePath,
                               "the calibration table (default: vm-fits.cfg beside vm-scan)");
    explainCommand->add_flag("--json", explain.json, "one JSON object instead of the table");

    std::string scanPath;
    CLI::App* cardsCommand = app.add_subcommand(
        "cards", "Prints the four card groups of a scan file, and for each polarisation n and "
                 "the smallest and largest stored value.");
    cardsCommand->add_option("SCANFILE", scanPath, "the scan file")->required();

    CLI::App* dataCommand = app.add_subcommand(
        "data", "Prints the points of a scan file as CSV in the file's order: place (1 to n), "
                "offset in arc seconds CDELT1 x (place - PMCSUN), and the physical values "
                "v x BSCALE + BZERO of the al and the ar block.");
    dataCommand->add_option("SCANFILE", scanPath, "the scan file")->required();

    FitsOptions fits;
    CLI::App* fitsCommand = app.add_subcommand(
        "fits", "Writes DIR/<scan file name>.fits for each scan file: a standard FITS image of "
                "the points (axis 1, offset in arc seconds), RR and LL (axis 2, STOKES) and the "
                "frequency (axis 3, Hz), in recorder units (BUNIT 'adu'). A scan file whose CDELT1 "
                "or PMCSUN gives no offset axis is written with its points only numbered and a "
                "QWARN card saying why. DATE is when the file is written (SOURCE_DATE_EPOCH "
                "when set).");
    CLI::Option* files = fitsCommand->add_option("SCANFILE", fits.scanFiles, "scan files");
    CLI::Option* index =
        fitsCommand->add_option("--index", fits.indexPath, "every scan file this scan index lists");
    files->excludes(index);
    fitsCommand->add_option("-o,--output", fits.outputFolder, "the folder of the FITS files")
        ->required();
    fitsCommand->add_option("--recording", fits.recordingHeader,
                            "the observation header the scan files were converted from: its warnings "
                            "as QWARNn cards and a QUALITY image of each point's flags");
    fitsCommand->add_option("--cfg", fits.tablePath,
                            "with --recording: the calibration table (default: vm-fits.cfg beside vm-scan)");
    fitsCommand->add_flag("--back", fits.backRule,
                          "with --recording: it was converted with a third argument (back extrapolation)");

    PictureOptions picture;
    RecordingOptions recording;
    std::string recordingThird;
    CLI::App* plotCommand = app.add_subcommand(
        "plot", "Draws a scan file: RR (the al block) and LL (the ar block) as physical values "
                "against the offset from the meridian centre in arc seconds (against the place 1 to n "
                "when CDELT1 or RADIUS leaves no offset axis).");
    plotCommand->add_option("SCANFILE", scanPath, "the scan file")->required();
    AddRecordingOptions(plotCommand, recording, recordingThird);
    AddPictureOptions(plotCommand, picture);

    std::string indexPath, polarisationName = "RR";
    CLI::App* overviewCommand = app.add_subcommand(
        "overview", "Draws every scan file of a scan index in one picture: one trace per file, "
                    "stacked by frequency, each scaled to its own range, on a common offset axis.");
    overviewCommand->add_option("--index", indexPath, "the scan index")->required();
    overviewCommand
        ->add_option("--pol", polarisationName,
                     "RR (the al block, default), LL (the ar block), I = (RR + LL) / 2 or "
                     "V = (RR - LL) / 2")
        ->check([](const std::string& name) {
            OverviewPolarisation ignored;
            return PolarisationFromName(name, ignored) ? std::string()
                                                       : "'" + name + "' is not RR, LL, I or V";
        });
    AddRecordingOptions(overviewCommand, recording, recordingThird);
    AddPictureOptions(overviewCommand, picture);

    int channel = 0;
    std::string repairHeader, repairTable, repairThird;
    CLI::App* repairCommand = app.add_subcommand(
        "repair-plot", "Draws one channel of a recording as read, above the same samples after "
                       "the jump repair and the baseline step of 'vm-fits HEADER OUT [THIRD]', "
                       "with the channel's markers.");
    repairCommand->add_option("HEADER", repairHeader, "the observation header file")->required();
    repairCommand->add_option("CHANNEL", channel, "the channel, 0 to 63")->required();
    repairCommand->add_option("THIRD", repairThird,
                              "any text: the jump repair by back extrapolation, as vm-fits's third "
                              "argument");
    repairCommand->add_option("--cfg", repairTable,
                              "the calibration table (default: vm-fits.cfg beside vm-scan)");
    AddPictureOptions(repairCommand, picture);

    for (CLI::App* command : {explainCommand, cardsCommand, dataCommand, fitsCommand, plotCommand,
                              overviewCommand, repairCommand})
        command->footer(kExitCodes);

    try {
        app.parse(argc, argv);
        if (fitsCommand->parsed() && fits.scanFiles.empty() && fits.indexPath.empty())
            throw CLI::RequiredError("SCANFILE or --index");
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kExitUsage;
    }

    if (explainCommand->parsed()) {
        explain.thirdArgument = !third.empty() || explainCommand->count("THIRD") > 0;
        if (explain.tablePath.empty()) explain.tablePath = context.defaultTablePath;
        return ExplainCommand(explain, out, err);
    }
    for (CLI::App* command : {plotCommand, overviewCommand}) {
        if (!command->parsed()) continue;
        recording.thirdArgument = command->count("--third") > 0;
        if (recording.tablePath.empty()) recording.tablePath = context.defaultTablePath;
    }
    if (plotCommand->parsed()) return PlotCommand(scanPath, recording, picture, out, err);
    if (overviewCommand->parsed()) {
        OverviewPolarisation polarisation = OverviewPolarisation::RR;
        PolarisationFromName(polarisationName, polarisation);
        return OverviewCommand(indexPath, polarisation, recording, picture, out, err);
    }
    if (repairCommand->parsed()) {
        const bool backRule = !repairThird.empty() || repairCommand->count("THIRD") > 0;
        return RepairPlotCommand(repairHeader, channel, backRule,
                                 repairTable.empty() ? context.defaultTablePath : repairTable, picture,
                                 out, err);
    }
    if (cardsCommand->parsed()) return CardsCommand(scanPath, out, err);
    if (dataCommand->parsed()) return DataCommand(scanPath, out, err);
    if (fits.tablePath.empty()) fits.tablePath = context.defaultTablePath;
    fits.sourceDateEpochSet = context.sourceDateEpochSet;
    fits.sourceDateEpoch = context.sourceDateEpoch;
    return FitsCommand(fits, out, err);
}

#include "scan/scan_tool.h"

#include <CLI/CLI.hpp>

#include "scan/calibrate_commands.h"
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

const char* const kCalibratedExitCodes =
    "Exit codes: 0 done, 1 a scan file or index that cannot be read or is malformed, a scan file refused (named "
    "with the reason; the others are still done) or an output that cannot be written, 2 bad usage or a recording "
    "header that cannot be read.";

// -o and --size of a picture subcommand.
void AddPictureOptions(CLI::App* command, PictureOptions& picture) {
    command->add_option("-o,--output", picture.outputPath, "the picture: PNG, or SVG when it ends in .svg")
        ->required();
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

// --recording and --cfg of a subcommand in physical units.
void AddRecordingOptions(CLI::App* command, RecordingCheck& recording) {
    CLI::Option* header = command->add_option(
        "--recording", recording.headerPath,
        "the observation header the scan files were converted from: a scan file it does not give is refused");
    command->add_option("--cfg", recording.tablePath,
                        "with --recording: the calibration table it was converted with (default: vm-fits.cfg "
                        "beside vm-scan)")
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
    bool dataCalibrated = false;
    RecordingCheck recording;
    dataCommand->add_flag("--calibrated", dataCalibrated,
                          "also the antenna temperatures [K] calibrated on the quiet Sun: t_rr_k, t_ll_k, "
                          "i_k = (RR + LL) / 2 and v_k = (RR - LL) / 2");
    AddRecordingOptions(dataCommand, recording);

    FitsOptions fits;
    CLI::App* fitsCommand = app.add_subcommand(
        "fits", "Writes DIR/<scan file name>.fits for each scan file: a standard FITS image of "
                "the points (axis 1, offset in arc seconds), RR and LL (axis 2, STOKES) and the "
                "frequency (axis 3, Hz).");
    CLI::Option* files = fitsCommand->add_option("SCANFILE", fits.scanFiles, "scan files");
    CLI::Option* index =
        fitsCommand->add_option("--index", fits.indexPath, "every scan file this scan index lists");
    files->excludes(index);
    fitsCommand->add_option("-o,--output", fits.outputFolder, "the folder of the FITS files")
        ->required();

    CalibrateOptions calibrate;
    std::string stokes = "RL";
    CLI::App* calibrateCommand = app.add_subcommand(
        "calibrate", "Writes DIR/<scan file name>.K.fits for each scan file: the FITS image of 'fits' in "
                     "antenna temperature [K] (BUNIT 'K'), each polarisation calibrated on the quiet Sun: "
                     "T = (v - sky) x TQSUN / quiet.");
    CLI::Option* calibrateFiles = calibrateCommand->add_option("SCANFILE", calibrate.scanFiles, "scan files");
    CLI::Option* calibrateIndex =
        calibrateCommand->add_option("--index", calibrate.indexPath, "every scan file this scan index lists");
    calibrateFiles->excludes(calibrateIndex);
    calibrateCommand->add_option("-o,--output", calibrate.outputFolder, "the folder of the FITS files")->required();
    calibrateCommand
        ->add_option("--stokes", stokes,
                     "RL: RR and LL along the STOKES axis (-1, -2; default), IV: I = (RR + LL) / 2 and "
                     "V = (RR - LL) / 2 (1, 4)")
        ->check(CLI::IsMember({"RL", "IV"}));
    AddRecordingOptions(calibrateCommand, recording);

    SourcesOptions sources;
    CLI::App* sourcesCommand = app.add_subcommand(
        "sources", "Finds the compact sources in every scan file of a scan index, follows each from frequency to "
                   "frequency by its position and prints one CSV row per source and scan file: position, width, "
                   "peak excess antenna temperature over the quiet Sun, flux density (peak x FLUX_L) and V/I, "
                   "each with its standard error.");
    sourcesCommand->add_option("INDEX", sources.indexPath, "the scan index")->required();
    sourcesCommand->add_flag("--json", sources.json, "one JSON object instead of the CSV");
    AddRecordingOptions(sourcesCommand, recording);

    PictureOptions picture;
    std::string spectrumIndex;
    CLI::App* spectrumCommand = app.add_subcommand(
        "spectrum", "Draws the flux density (log-log) and V/I of every compact source of a scan index against "
                    "frequency, one curve per source, with error bars from the fit.");
    spectrumCommand->add_option("INDEX", spectrumIndex, "the scan index")->required();
    AddRecordingOptions(spectrumCommand, recording);

    CLI::App* plotCommand = app.add_subcommand(
        "plot", "Draws a scan file: RR (the al block) and LL (the ar block) as physical values "
                "against the offset from the meridian centre in arc seconds.");
    plotCommand->add_option("SCANFILE", scanPath, "the scan file")->required();
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
    bool overviewCalibrated = false;
    overviewCommand->add_flag("--calibrated", overviewCalibrated,
                              "with --pol I or V: antenna temperatures calibrated on the quiet Sun, all traces "
                              "on one scale, each with its zero line");
    AddRecordingOptions(overviewCommand, recording);
    AddPictureOptions(overviewCommand, picture);
    AddPictureOptions(spectrumCommand, picture);

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
    for (CLI::App* command : {calibrateCommand, sourcesCommand, spectrumCommand}) command->footer(kCalibratedExitCodes);

    try {
        app.parse(argc, argv);
        if (fitsCommand->parsed() && fits.scanFiles.empty() && fits.indexPath.empty())
            throw CLI::RequiredError("SCANFILE or --index");
        if (calibrateCommand->parsed() && calibrate.scanFiles.empty() && calibrate.indexPath.empty())
            throw CLI::RequiredError("SCANFILE or --index");
        OverviewPolarisation asked = OverviewPolarisation::RR;
        PolarisationFromName(polarisationName, asked);
        if (overviewCalibrated && asked != OverviewPolarisation::I && asked != OverviewPolarisation::V)
            throw CLI::ValidationError("--calibrated", "draws --pol I or V");
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kExitUsage;
    }

    if (explainCommand->parsed()) {
        explain.thirdArgument = !third.empty() || explainCommand->count("THIRD") > 0;
        if (explain.tablePath.empty()) explain.tablePath = context.defaultTablePath;
        return ExplainCommand(explain, out, err);
    }
    if (recording.tablePath.empty()) recording.tablePath = context.defaultTablePath;
    if (plotCommand->parsed()) return PlotCommand(scanPath, picture, out, err);
    if (overviewCommand->parsed()) {
        OverviewPolarisation polarisation = OverviewPolarisation::RR;
        PolarisationFromName(polarisationName, polarisation);
        if (overviewCalibrated) return CalibratedOverviewCommand(indexPath, polarisation, recording, picture, out, err);
        return OverviewCommand(indexPath, polarisation, picture, out, err);
    }
    if (calibrateCommand->parsed()) {
        calibrate.stokesIV = stokes == "IV";
        calibrate.recording = recording;
        calibrate.sourceDateEpochSet = context.sourceDateEpochSet;
        calibrate.sourceDateEpoch = context.sourceDateEpoch;
        return CalibrateCommand(calibrate, out, err);
    }
    if (sourcesCommand->parsed()) {
        sources.recording = recording;
        return SourcesCommand(sources, out, err);
    }
    if (spectrumCommand->parsed()) return SpectrumCommand(spectrumIndex, recording, picture, out, err);
    if (repairCommand->parsed()) {
        const bool backRule = !repairThird.empty() || repairCommand->count("THIRD") > 0;
        return RepairPlotCommand(repairHeader, channel, backRule,
                                 repairTable.empty() ? context.defaultTablePath : repairTable, picture,
                                 out, err);
    }
    if (cardsCommand->parsed()) return CardsCommand(scanPath, out, err);
    if (dataCommand->parsed())
        return dataCalibrated ? CalibratedDataCommand(scanPath, recording, out, err) : DataCommand(scanPath, out, err);
    fits.sourceDateEpochSet = context.sourceDateEpochSet;
    fits.sourceDateEpoch = context.sourceDateEpoch;
    return FitsCommand(fits, out, err);
}

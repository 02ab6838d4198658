#include "scan/scan_tool.h"

#include <CLI/CLI.hpp>

#include "app/version.h"
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
    "with the reason; the others are still done), a source left out for a V/I beyond 1 (named) or an output that "
    "cannot be written, 2 bad usage or a recording header that cannot be read.";

// What --recording does, by subcommand.
const char* const kRefusedScanFiles = "the observation header the scan files were converted from: a scan file it "
                                      "does not give, or that its warnings concern, is refused";
const char* const kShadedPoints = "the observation header the scan files were converted from: shades the points "
                                  "its warnings touch and lists the warnings";

// What the subcommands' options fill in.
struct Choices {
    ExplainOptions explain;
    std::string third;  // explain's THIRD
    std::string scanPath;
    bool dataCalibrated = false;
    FitsOptions fits;
    CalibrateOptions calibrate;
    std::string stokes = "RL";
    SourcesOptions sources;
    SourcesOptions flux;
    std::string spectrumIndex;
    PictureOptions picture;
    RecordingOptions recording;
    unsigned jobs = 0;  // --jobs; 0: one per processor
    std::string indexPath, polarisationName = "RR";
    bool overviewCalibrated = false;
    int channel = 0;
    std::string repairHeader, repairTable, repairThird;
};

// The subcommands, as declared.
struct Commands {
    CLI::App *explain, *cards, *data, *fits, *calibrate, *sources, *flux, *spectrum, *plot, *overview, *repair;
};

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

// --recording, --cfg and --third: the recording the scan files were converted
// from. With `tableAlone`, --cfg may come without --recording (FLUX_L).
void AddRecordingOptions(CLI::App* command, RecordingOptions& recording, const char* what, bool tableAlone = false) {
    CLI::Option* header =
        command->add_option("--recording", recording.headerPath, what)->type_name("HEADER");
    CLI::Option* table =
        command
            ->add_option("--cfg", recording.tablePath,
                         tableAlone ? "the calibration table the scan files were converted with (with --recording, "
                                      "by default vm-fits.cfg beside vm-scan, else in the folder above): FLUX_L "
                                      "from it at each scan file's frequency instead of the FLUX_L card"
                                    : "with --recording: the calibration table it was converted with (default: "
                                      "vm-fits.cfg beside vm-scan, else in the folder above)")
            ->type_name("TABLE");
    if (!tableAlone) table->needs(header);
    command
        ->add_option_function<std::string>(
            "--third", [&recording](const std::string&) { recording.thirdArgument = true; },
            "with --recording: any text, it was converted with vm-fits's third argument (back extrapolation)")
        ->type_name("THIRD")
        ->needs(header);
}

// --jobs N of a subcommand that calibrates scan files.
void AddJobsOption(CLI::App* command, unsigned& jobs, const char* what = "") {
    command
        ->add_option("--jobs", jobs,
                     std::string(what) + "how many scan files are calibrated at once (default: one per processor)")
        ->type_name("N")
        ->check(CLI::Range(1, 1024));
}

// SCANFILE... or --index INDEX, and -o DIR, of a subcommand that writes FITS files.
void AddScanFilesAndFolder(CLI::App* command, std::vector<std::string>& files, std::string& index,
                           std::string& folder) {
    CLI::Option* given = command->add_option("SCANFILE", files, "scan files");
    given->excludes(command->add_option("--index", index, "every scan file this scan index lists"));
    command->add_option("-o,--output", folder, "the folder of the FITS files")->required();
}

void DeclareExplain(CLI::App& app, Choices& c, Commands& commands) {
    commands.explain = app.add_subcommand(
        "explain",
        "Reads a recording as 'vm-fits HEADER OUT [THIRD]' would and tells, per run and per "
        "channel 0 to 63, what it decides and why a channel gets no scan file. Writes nothing.");
    commands.explain->add_option("HEADER", c.explain.headerPath, "the observation header file")->required();
    commands.explain->add_option("THIRD", c.third,
                                 "any text: the jump repair by back extrapolation, as vm-fits's third argument");
    commands.explain->add_option("--cfg", c.explain.tablePath,
                                 "the calibration table (default: vm-fits.cfg beside vm-scan, else in the folder above)");
    commands.explain->add_flag("--json", c.explain.json, "one JSON object instead of the table");
}

void DeclareScanFileCommands(CLI::App& app, Choices& c, Commands& commands) {
    commands.cards = app.add_subcommand(
        "cards", "Prints the four card groups of a scan file, and for each polarisation n and "
                 "the smallest and largest stored value.");
    commands.cards->add_option("SCANFILE", c.scanPath, "the scan file")->required();
    commands.data = app.add_subcommand(
        "data", "Prints the points of a scan file as CSV in the file's order: place (1 to n), "
                "offset in arc seconds CDELT1 x (place - PMCSUN), and the physical values "
                "v x BSCALE + BZERO of the al and the ar block.");
    commands.data->add_option("SCANFILE", c.scanPath, "the scan file")->required();
    commands.data->add_flag("--calibrated", c.dataCalibrated,
                            "also the antenna temperatures [K] of RR and LL calibrated on the quiet Sun, and I "
                            "and V");
    AddRecordingOptions(commands.data, c.recording,
                        "with --calibrated: the observation header the scan file was converted from; a scan "
                        "file it does not give, or that its warnings concern, is refused");
    commands.fits = app.add_subcommand(
        "fits", "Writes DIR/<scan file name>.fits for each scan file: a standard FITS image of "
                "the points (axis 1, offset in arc seconds), RR and LL (axis 2, STOKES) and the "
                "frequency (axis 3, Hz), in recorder units (BUNIT 'adu'). A scan file whose CDELT1 "
                "or PMCSUN gives no offset axis is written with its points only numbered and a "
                "QWARN card saying why. DATE is when the file is written (SOURCE_DATE_EPOCH "
                "when set).");
    AddScanFilesAndFolder(commands.fits, c.fits.scanFiles, c.fits.indexPath, c.fits.outputFolder);
    AddRecordingOptions(commands.fits, c.recording,
                        "the observation header the scan files were converted from: its warnings as QWARNn "
                        "cards and a QUALITY image of each point's flags");
}

void DeclarePhysicalUnits(CLI::App& app, Choices& c, Commands& commands) {
    commands.calibrate = app.add_subcommand(
        "calibrate", "Writes DIR/<scan file name>.K.fits for each scan file: the FITS image of 'fits' in "
                     "antenna temperature [K] (BUNIT 'K'), each polarisation calibrated on the quiet Sun: "
                     "T = (v - sky) x TQSUN / quiet.");
    AddScanFilesAndFolder(commands.calibrate, c.calibrate.scanFiles, c.calibrate.indexPath,
                          c.calibrate.outputFolder);
    commands.calibrate
        ->add_option("--stokes", c.stokes,
                     "RL: RR and LL along the STOKES axis (-1, -2; default), IV: I = (RR + LL) / 2 and "
                     "V = (RR - LL) / 2 (1, 4)")
        ->check(CLI::IsMember({"RL", "IV"}));
    AddRecordingOptions(commands.calibrate, c.recording, kRefusedScanFiles);
    AddJobsOption(commands.calibrate, c.jobs);
    commands.sources = app.add_subcommand(
        "sources", "Finds the compact sources in every scan file of a scan index, follows each from frequency to "
                   "frequency by its position and prints one CSV row per source and scan file: position, width, "
                   "peak excess antenna temperature over the quiet Sun, flux density (peak x FLUX_L) and V/I, "
                   "each with its standard error.");
    commands.sources->add_option("INDEX", c.sources.indexPath, "the scan index")->required();
    commands.sources->add_flag("--json", c.sources.json, "one JSON object instead of the CSV");
    AddRecordingOptions(commands.sources, c.recording, kRefusedScanFiles, true);
    AddJobsOption(commands.sources, c.jobs);
    commands.flux = app.add_subcommand(
        "flux", "Measures the whole Sun's flux density in every scan file of a scan index: FLUX_L x the integral "
                "of Stokes I over the scan (sky subtracted) / the integral along the scan of a Gaussian beam as "
                "wide as the recording's table gives it between its rows (else THETA-DG), with its standard "
                "error; one CSV row per scan file by frequency.");
    commands.flux->add_option("INDEX", c.flux.indexPath, "the scan index")->required();
    commands.flux->add_flag("--json", c.flux.json, "one JSON object instead of the CSV");
    AddRecordingOptions(commands.flux, c.recording, kRefusedScanFiles, true);
    AddJobsOption(commands.flux, c.jobs);
    commands.spectrum = app.add_subcommand(
        "spectrum", "Draws the flux density (log-log) and V/I of every compact source of a scan index against "
                    "frequency, one curve per source, with error bars from the fit.");
    commands.spectrum->add_option("INDEX", c.spectrumIndex, "the scan index")->required();
    AddRecordingOptions(commands.spectrum, c.recording, kRefusedScanFiles, true);
    AddJobsOption(commands.spectrum, c.jobs);
    AddPictureOptions(commands.spectrum, c.picture);
}

void DeclarePictures(CLI::App& app, Choices& c, Commands& commands) {
    commands.plot = app.add_subcommand(
        "plot", "Draws a scan file: RR (the al block) and LL (the ar block) as physical values "
                "against the offset from the meridian centre in arc seconds (against the place 1 to n "
                "when CDELT1 or RADIUS leaves no offset axis).");
    commands.plot->add_option("SCANFILE", c.scanPath, "the scan file")->required();
    AddRecordingOptions(commands.plot, c.recording, kShadedPoints);
    AddPictureOptions(commands.plot, c.picture);
    commands.overview = app.add_subcommand(
        "overview", "Draws every scan file of a scan index in one picture: one trace per file, "
                    "stacked by frequency, each scaled to its own range, on a common offset axis.");
    commands.overview->add_option("--index", c.indexPath, "the scan index")->required();
    commands.overview
        ->add_option("--pol", c.polarisationName,
                     "RR (the al block, default), LL (the ar block), I = (RR + LL) / 2 or V = (RR - LL) / 2")
        ->check([](const std::string& name) {
            OverviewPolarisation ignored;
            return PolarisationFromName(name, ignored) ? std::string() : "'" + name + "' is not RR, LL, I or V";
        });
    commands.overview->add_flag("--calibrated", c.overviewCalibrated,
                                "with --pol I or V: antenna temperatures calibrated on the quiet Sun, all traces "
                                "on one scale, each with its zero line");
    AddRecordingOptions(commands.overview, c.recording, kShadedPoints);
    AddJobsOption(commands.overview, c.jobs, "with --calibrated: ");
    AddPictureOptions(commands.overview, c.picture);
    commands.repair = app.add_subcommand(
        "repair-plot", "Draws one channel of a recording as read, above the same samples after "
                       "the jump repair and the baseline step of 'vm-fits HEADER OUT [THIRD]', "
                       "with the channel's markers.");
    commands.repair->add_option("HEADER", c.repairHeader, "the observation header file")->required();
    commands.repair->add_option("CHANNEL", c.channel, "the channel, 0 to 63")->required();
    commands.repair->add_option("THIRD", c.repairThird,
                                "any text: the jump repair by back extrapolation, as vm-fits's third argument");
    commands.repair->add_option("--cfg", c.repairTable, "the calibration table (default: vm-fits.cfg beside vm-scan, else in the folder above)");
    AddPictureOptions(commands.repair, c.picture);
}

// "'frobnicate' is not a subcommand of vm-scan; ..." when the first word after
// the program's options names no subcommand; empty otherwise.
std::string UnknownSubcommand(const CLI::App& app) {
    if (!app.get_subcommands().empty()) return std::string();
    const std::vector<std::string> left = app.remaining();
    if (left.empty() || left.front().empty() || left.front()[0] == '-') return std::string();
    std::string names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; }))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return "'" + left.front() + "' is not a subcommand of vm-scan; the subcommands are " + names;
}

// What the command line alone cannot check.
void CheckChoices(const Choices& c, const Commands& commands) {
    if (commands.fits->parsed() && c.fits.scanFiles.empty() && c.fits.indexPath.empty())
        throw CLI::RequiredError("SCANFILE or --index");
    if (commands.calibrate->parsed() && c.calibrate.scanFiles.empty() && c.calibrate.indexPath.empty())
        throw CLI::RequiredError("SCANFILE or --index");
    OverviewPolarisation asked = OverviewPolarisation::RR;
    PolarisationFromName(c.polarisationName, asked);
    if (c.overviewCalibrated && asked != OverviewPolarisation::I && asked != OverviewPolarisation::V)
        throw CLI::ValidationError("--calibrated", "draws --pol I or V");
}

int RunPhysicalUnits(Choices& c, const Commands& commands, const ScanToolContext& context, std::ostream& out,
                     std::ostream& err) {
    if (commands.calibrate->parsed()) {
        c.calibrate.stokesIV = c.stokes == "IV";
        c.calibrate.recording = c.recording;
        c.calibrate.jobs = c.jobs;
        c.calibrate.sourceDateEpochSet = context.sourceDateEpochSet;
        c.calibrate.sourceDateEpoch = context.sourceDateEpoch;
        return CalibrateCommand(c.calibrate, out, err);
    }
    if (commands.sources->parsed()) {
        c.sources.recording = c.recording;
        c.sources.jobs = c.jobs;
        return SourcesCommand(c.sources, out, err);
    }
    if (commands.flux->parsed()) {
        c.flux.recording = c.recording;
        c.flux.jobs = c.jobs;
        return FluxCommand(c.flux, out, err);
    }
    return SpectrumCommand(c.spectrumIndex, c.recording, c.jobs, c.picture, out, err);
}

int RunChosen(Choices& c, const Commands& commands, const ScanToolContext& context, std::ostream& out,
              std::ostream& err) {
    if (commands.explain->parsed()) {
        c.explain.thirdArgument = !c.third.empty() || commands.explain->count("THIRD") > 0;
        if (c.explain.tablePath.empty()) c.explain.tablePath = context.defaultTablePath;
        return ExplainCommand(c.explain, out, err);
    }
    // The table a recording was converted with; without a recording, only a
    // table given by --cfg is used.
    if (c.recording.tablePath.empty() && !c.recording.headerPath.empty())
        c.recording.tablePath = context.defaultTablePath;
    if (commands.calibrate->parsed() || commands.sources->parsed() || commands.flux->parsed() ||
        commands.spectrum->parsed())
        return RunPhysicalUnits(c, commands, context, out, err);
    if (commands.plot->parsed()) return PlotCommand(c.scanPath, c.recording, c.picture, out, err);
    if (commands.overview->parsed()) {
        OverviewPolarisation polarisation = OverviewPolarisation::RR;
        PolarisationFromName(c.polarisationName, polarisation);
        if (c.overviewCalibrated)
            return CalibratedOverviewCommand(c.indexPath, polarisation, c.recording, c.jobs, c.picture, out, err);
        return OverviewCommand(c.indexPath, polarisation, c.recording, c.picture, out, err);
    }
    if (commands.repair->parsed()) {
        const bool backRule = !c.repairThird.empty() || commands.repair->count("THIRD") > 0;
        return RepairPlotCommand(c.repairHeader, c.channel, backRule,
                                 c.repairTable.empty() ? context.defaultTablePath : c.repairTable, c.picture, out,
                                 err);
    }
    if (commands.cards->parsed()) return CardsCommand(c.scanPath, out, err);
    if (commands.data->parsed())
        return c.dataCalibrated ? CalibratedDataCommand(c.scanPath, c.recording, out, err)
                                : DataCommand(c.scanPath, out, err);
    c.fits.recording = c.recording;
    c.fits.sourceDateEpochSet = context.sourceDateEpochSet;
    c.fits.sourceDateEpoch = context.sourceDateEpoch;
    return FitsCommand(c.fits, out, err);
}

}  // namespace

int RunScanTool(int argc, const char* const* argv, const ScanToolContext& context, std::ostream& out,
                std::ostream& err) {
    CLI::App app("Explains what vm-fits does with a recording, reads scan files back, exports "
                 "them as FITS, draws them, and calibrates them in physical units.",
                 "vm-scan");
    app.footer(kExitCodes);
    app.require_subcommand(1);
    app.set_version_flag("--version", VersionLine("vm-scan"), "prints the program's name and version");
    Choices choices;
    Commands commands{};
    DeclareExplain(app, choices, commands);
    DeclareScanFileCommands(app, choices, commands);
    DeclarePhysicalUnits(app, choices, commands);
    DeclarePictures(app, choices, commands);
    for (CLI::App* command : {commands.explain, commands.cards, commands.data, commands.fits, commands.plot,
                              commands.overview, commands.repair})
        command->footer(kExitCodes);
    for (CLI::App* command : {commands.calibrate, commands.sources, commands.flux, commands.spectrum})
        command->footer(kCalibratedExitCodes);
    try {
        app.parse(argc, argv);
        CheckChoices(choices, commands);
    } catch (const CLI::ParseError& e) {
        const std::string unknown = UnknownSubcommand(app);
        if (!unknown.empty()) {
            err << unknown << "\nRun with --help for more information.\n";
            return kExitUsage;
        }
        const int code = app.exit(e, out, err);
        return code == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kExitUsage;
    }
    return RunChosen(choices, commands, context, out, err);
}

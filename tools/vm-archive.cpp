// vm-archive: the archive's catalog across days: the daily whole-Sun flux,
// the active regions, the comparison with a published flux series. The work
// is done in archive/; here is the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "app/version.h"
#include "archive/archive_commands.h"
#include "scan/plots.h"
#include "tools/command_line.h"

namespace {

constexpr int kBadUsage = 2;

const char* const kDescription =
    "Reads an archive's catalog (catalog.sqlite) across days.\n"
    "  flux     the daily whole-Sun flux at chosen frequencies\n"
    "  regions  the compact sources linked across days into active regions\n"
    "  compare  the daily flux against a published series\n"
    "  dump     what the catalog holds, as text to compare catalogs by\n"
    "Exit codes: 0 done, 1 an input could not be read or an output written,\n"
    "2 bad usage. docs/archive.md describes the outputs.";

const char* const kCompareDescription =
    "Compares the daily whole-Sun flux with a published series. The reference is\n"
    "either a table with the header line\n"
    "  fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi\n"
    "(whitespace-separated, fluxdate YYYYMMDD, fluxtime HHMMSS, the flux at 2.8 GHz),\n"
    "of which fluxobsflux is used: the flux as observed at the Earth's distance,\n"
    "as a drift scan measures it (not fluxadjflux, scaled to 1 AU); or a CSV with\n"
    "the header line date,frequency_ghz,flux_sfu (date YYYY-MM-DD, or\n"
    "YYYY-MM-DDTHH:MM:SS). For each day with both, our flux interpolated to the\n"
    "reference's frequency is divided by the reference value nearest in time that\n"
    "day. The summary (stdout) gives the median ratio, the robust scatter\n"
    "(1.4826 x the median absolute deviation) and the outliers: days whose ratio\n"
    "lies more than 3 scatters and more than 5 % of the median from the median.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "vm-archive"};
    app.set_version_flag("--version", VersionLine("vm-archive"), "print the version and exit");
    app.require_subcommand(1);

    FluxCommand flux;
    CLI::App* fluxApp = app.add_subcommand(
        "flux",
        "The daily whole-Sun flux at each frequency: interpolated linearly in log(flux) against\n"
        "log(frequency) between the two channels that bracket it (the nearest channel when only\n"
        "one side exists), or the nearest channel with --nearest. CSV to stdout by default.");
    fluxApp->add_option("CATALOG", flux.catalog, "the catalog")->required()->type_name("FILE");
    fluxApp->add_option("--frequency", flux.frequencies, "frequencies [GHz]")
        ->required()
        ->expected(1, -1)
        ->check(CLI::PositiveNumber)
        ->type_name("F");
    fluxApp->add_flag("--nearest", flux.nearest, "take the nearest channel instead of interpolating");
    fluxApp->add_option("--picture", flux.picture, "flux against date, one curve per frequency")
        ->type_name("FILE.png|.svg");
    fluxApp->add_option("--csv", flux.csv, "write the CSV here instead of stdout")->type_name("FILE");

    RegionsCommand regions;
    CLI::App* regionsApp = app.add_subcommand(
        "regions",
        "Links the sources' tracks across days into active regions by the Sun's differential\n"
        "rotation, fills the catalog's tables regions and region_tracks (replacing an earlier\n"
        "run's) and writes one CSV row per region, day and frequency (stdout by default).");
    regionsApp->add_option("CATALOG", regions.catalog, "the catalog")->required()->type_name("FILE");
    regionsApp->add_option("--picture-dir", regions.pictureDir,
                           "draw each region's spectrum day by day there (region-NNNN.png)")
        ->type_name("DIR");
    regionsApp->add_option("--csv", regions.csv, "write the CSV here instead of stdout")->type_name("FILE");

    CompareCommand compare;
    CLI::App* compareApp = app.add_subcommand("compare", kCompareDescription);
    compareApp->add_option("CATALOG", compare.catalog, "the catalog")->required()->type_name("FILE");
    compareApp->add_option("--reference", compare.reference, "the published series")->required()->type_name("FILE");
    compareApp->add_option("--picture", compare.picture, "the ratio over time")->type_name("FILE.png|.svg");
    compareApp->add_option("--csv", compare.csv,
                           "one row per day: date,observed,frequency_ghz,flux_sfu,flux_error_sfu,"
                           "reference_sfu,ratio,outlier")
        ->type_name("FILE");

    std::string dumped;
    CLI::App* dumpApp = app.add_subcommand(
        "dump",
        "Prints what the catalog holds as text, every table's rows in the order of their natural\n"
        "keys (header, scan file name, position), never of row ids or times added: two catalogs\n"
        "that hold the same print the same (a run in shards and a single run, say).");
    dumpApp->add_option("CATALOG", dumped, "the catalog")->required()->type_name("FILE");

    if (const int code = ParseCommandLine(app, argc, argv, kBadUsage); code >= 0) return code;
    for (const std::string* picture : {&flux.picture, &compare.picture}) {
        PictureFormat format = PictureFormat::Png;
        if (!picture->empty() && !PictureFormatOfPath(*picture, format)) {
            std::fprintf(stderr, "vm-archive: %s\n(see vm-archive --help)\n", NotAPictureName(*picture).c_str());
            return kBadUsage;
        }
    }
    if (fluxApp->parsed()) return RunFluxCommand(flux, std::cout, std::cerr);
    if (regionsApp->parsed()) return RunRegionsCommand(regions, std::cout, std::cerr);
    if (dumpApp->parsed()) return RunDumpCommand(dumped, std::cout, std::cerr);
    return RunCompareCommand(compare, std::cout, std::cerr);
}

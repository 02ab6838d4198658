// The command line of vm-scan: every subcommand reached, --help, and bad
// usage ending with 2 and a message.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "scan/scan_fixtures.h"
#include "scan/scan_tool.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = VMFITS_SOURCE_DIR "/samples/sun-2003-11-05";

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun Tool(std::vector<std::string> arguments, const std::string& table = kSample + "/vm-fits.cfg") {
    arguments.insert(arguments.begin(), "vm-scan");
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    ScanToolContext context;
    context.defaultTablePath = table;
    std::ostringstream out, err;
    const int code = RunScanTool(static_cast<int>(argv.size()), argv.data(), context, out, err);
    return {code, out.str(), err.str()};
}

TEST(ScanTool, BadUsageExitsWithTwo) {
    const struct {
        std::vector<std::string> arguments;
        std::string message;  // the first line on standard error
    } cases[] = {
        {{}, "A subcommand is required"},
        {{"frobnicate", "x"}, "'frobnicate' is not a subcommand of vm-scan; the subcommands are explain, cards, "
                              "data, fits, calibrate, sources, flux, spectrum, plot, overview, repair-plot"},
        {{"explain"}, "HEADER is required"},
        {{"explain", "h", "third", "fourth"}, "The following argument was not expected: fourth"},
        {{"explain", "h", "--cfg"}, "--cfg: 1 required TEXT missing"},
        {{"cards"}, "SCANFILE is required"},
        {{"data", "a", "b"}, "The following argument was not expected: b"},
        {{"fits", "a"}, "--output is required"},
        {{"fits", "-o", "x"}, "SCANFILE or --index is required"},
        {{"fits", "a", "--index", "i", "-o", "x"}, "SCANFILE excludes --index"},
        {{"cards", "--bogus", "a"}, "The following argument was not expected: --bogus"},
        {{"calibrate", "-o", "x"}, "SCANFILE or --index is required"},
        {{"calibrate", "a", "-o", "x", "--stokes", "QU"}, "--stokes: QU not in {RL,IV}"},
        {{"sources"}, "INDEX is required"},
        {{"flux", "i", "--bogus"}, "The following argument was not expected: --bogus"},
        {{"spectrum", "i"}, "--output is required"},
        {{"overview", "--index", "i", "--pol", "RR", "--calibrated", "-o", "x.png"}, "--calibrated: draws --pol I or V"},
        {{"data", "a", "--cfg", "t"}, "--cfg requires --recording"},
        {{"calibrate", "a", "-o", "x", "--cfg", "t"}, "--cfg requires --recording"},  // sources and spectrum take it alone
        {{"sources", "i", "--jobs", "0"}, "--jobs: Value 0 not in range 1 to 1024"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.code, 2) << c.message;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.message);
        EXPECT_EQ(run.out, "");
    }
}

TEST(ScanTool, HelpForTheProgramAndEachSubcommand) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--help"}, {"explain", "--help"}, {"cards", "-h"},
                                               {"data", "--help"}, {"fits", "--help"}, {"calibrate", "--help"},
                                               {"sources", "--help"}, {"spectrum", "--help"}}) {
        const ToolRun run = Tool(arguments);
        EXPECT_EQ(run.code, 0);
        EXPECT_NE(run.out.find("Usage: vm-scan"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Exit codes:"), std::string::npos);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_NE(Tool({"explain", "--help"}).out.find("Usage: vm-scan explain [OPTIONS] HEADER [THIRD]"),
              std::string::npos);
}

TEST(ScanTool, SubcommandsAndTheirArguments) {
    // The default table is the one beside the program; --cfg replaces it.
    ToolRun run = Tool({"explain", kSample + "/sun.05h"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("Calibration table: " + kSample + "/vm-fits.cfg\n"), std::string::npos);
    run = Tool({"explain", kSample + "/sun.05h", "--cfg", "/no/table.cfg", "--json"});
    EXPECT_EQ(run.code, 0);
    EXPECT_NE(run.out.find("\"calibration_table\": null"), std::string::npos);
    EXPECT_NE(run.out.find("\"repair\": \"two-sided\""), std::string::npos);
    run = Tool({"explain", kSample + "/sun.05h", "back", "--json"});
    EXPECT_NE(run.out.find("\"repair\": \"back\""), std::string::npos);
    run = Tool({"explain", kSample + "/sun.05h", "", "--json"});  // an empty third argument counts
    EXPECT_NE(run.out.find("\"repair\": \"back\""), std::string::npos);
    run = Tool({"explain", "/no/sun.05h"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, "Can't open /no/sun.05h\n");

    // The program finds the table as vm-fits does: beside it, else in the
    // folder above (vm-scan in build/linux/tools, the table beside build/linux/vm-fits).
    TempFolder home;
    fs::create_directories(home / "bin/tools");
    fs::copy_file(VMSCAN_BINARY, home / "bin/tools/vm-scan");
    fs::copy_file(kSample + "/vm-fits.cfg", home / "bin/vm-fits.cfg");
    const ProcessResult found = RunProcess({home / "bin/tools/vm-scan", "explain", kSample + "/sun.05h"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("Calibration table: " + (home / "bin/vm-fits.cfg") + "\n"), std::string::npos)
        << found.out;

    WriteFileBytes(home / "x.001", MadeScanFile(3));
    run = Tool({"cards", home / "x.001"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out.rfind("Main header\n", 0), 0u);
    run = Tool({"data", home / "x.001"});
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(CsvRows(run.out).size(), 3u);
    run = Tool({"fits", home / "x.001", "-o", home / "fits"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(FileExists(home / "fits/x.001.fits"));
    run = Tool({"cards", home / "none.001"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "Can't open " + (home / "none.001") + "\n");
}

}  // namespace

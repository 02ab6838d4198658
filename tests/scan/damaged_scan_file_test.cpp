// Scan files cut short at every byte, and with single bytes changed: every
// subcommand that reads scan files gives a clear error or a correct result.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "scan/fits_export.h"
#include "scan/plot_commands.h"
#include "scan/scan_file_commands.h"
#include "scan/scan_fixtures.h"

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

using Command = std::function<int(const std::string&, std::ostream&, std::ostream&)>;

struct NamedCommand {
    const char* name;
    Command run;
};

std::vector<NamedCommand> Commands(const std::string& fitsFolder) {
    return {
        {"cards", CardsCommand},
        {"data", DataCommand},
        {"fits",
         [fitsFolder](const std::string& path, std::ostream& out, std::ostream& err) {
             FitsOptions options;
             options.scanFiles = {path};
             options.outputFolder = fitsFolder;
             return FitsCommand(options, out, err);
         }},
        {"plot",
         [fitsFolder](const std::string& path, std::ostream& out, std::ostream& err) {
             PictureOptions options;
             options.outputPath = fitsFolder + ".png";
             options.size = {300, 300};
             return PlotCommand(path, options, out, err);
         }},
    };
}

// Runs every command on `bytes` and checks that each either fails with one
// line naming the file or succeeds with a result that fits the file.
void CheckEveryCommand(const TempFolder& home, const std::string& bytes, bool mustFail,
                       const std::string& what) {
    const std::string path = home / "s05b03_05z.001";
    WriteFileBytes(path, bytes);
    ScanFileContents scan;
    std::string error;
    const bool readable = ReadScanFile(path, scan, error);
    for (const NamedCommand& command : Commands(home / "fits")) {
        std::ostringstream out, err;
        const int code = command.run(path, out, err);
        const std::string context = std::string(command.name) + " " + what;
        ASSERT_TRUE(code == 0 || code == 1) << context;
        if (mustFail) {
            EXPECT_EQ(code, 1) << context;
        }
        if (code == 1) {
            const std::string message = err.str();
            EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << context << ": " << message;
            EXPECT_EQ(message.find('\n'), message.size() - 1) << context << ": " << message;
            continue;
        }
        ASSERT_TRUE(readable) << context;
        EXPECT_EQ(err.str(), "") << context;
        if (std::string(command.name) == "data") {
            EXPECT_EQ(CsvRows(out.str()).size(), static_cast<std::size_t>(scan.naxis1)) << context;
        } else if (std::string(command.name) == "cards") {
            EXPECT_NE(out.str().find("  n " + std::to_string(scan.naxis1)), std::string::npos) << context;
        } else if (std::string(command.name) == "plot") {
            EXPECT_TRUE(FileExists(home / "fits.png")) << context;
        } else {
            EXPECT_TRUE(FileExists(home / "fits/s05b03_05z.001.fits")) << context;
        }
    }
}

TEST(DamagedScanFiles, EveryCutIsAnError) {
    TempFolder home;
    const std::string good = MadeScanFile(6);
    CheckEveryCommand(home, good, false, "whole");
    for (std::size_t length = 0; length < good.size(); ++length)
        CheckEveryCommand(home, good.substr(0, length), true, "cut at " + std::to_string(length));
}

TEST(DamagedScanFiles, ChangedBytesGiveAnErrorOrAResult) {
    TempFolder home;
    const std::string good = MadeScanFile(6);
    std::mt19937 random(20031105);
    for (int flip = 0; flip < 300; ++flip) {
        std::string bytes = good;
        const std::size_t at = random() % bytes.size();
        bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random() % 255));
        CheckEveryCommand(home, bytes, false, "changed at " + std::to_string(at));
    }
    // Point counts beyond the file, and beyond every size, allocate nothing.
    for (const char* count : {"        999999", "    2147483647"}) {
        std::string bytes = good;
        bytes.replace(bytes.find("NAXIS1  = ") + 10, 14, count);
        CheckEveryCommand(home, bytes, true, count);
    }
}

}  // namespace

// vm-scan data and cards on converted recordings: the points read back are
// the repaired and scaled samples, within one BSCALE step.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "scan/explain.h"
#include "scan/scan_file_commands.h"
#include "scan/scan_fixtures.h"

namespace {

TEST(ScanData, RoundTripWithinOneScaleStep) {
    const struct {
        std::vector<std::string> options;
        bool third;
    } recordings[] = {
        {{"--seed", "1", "--channels", "8"}, false},
        {{"--seed", "2", "--channels", "8", "--defects"}, true},
        {{"--seed", "3", "--channels", "4", "--samples", "8191"}, false},
    };
    for (const auto& recording : recordings) {
        TempFolder home;
        std::vector<std::string> arguments{"--out", home / "rec", "--cfg"};
        arguments.insert(arguments.end(), recording.options.begin(), recording.options.end());
        Simulate(arguments);
        const std::string header = home / "rec/sun.05h";
        RecordingExplanation e;
        std::string error;
        ASSERT_TRUE(ExplainRecording(header, recording.third, home / "rec/vm-fits.cfg", true, e, error));
        ASSERT_EQ(Convert(home, header, home / "out", home / "rec/vm-fits.cfg",
                          recording.third ? std::vector<std::string>{"back"} : std::vector<std::string>{})
                      .exitCode,
                  1);
        int compared = 0;
        for (const ChannelPlan& channel : e.channels) {
            if (channel.verdict != ChannelVerdict::ScanFile) continue;
            const std::string path = home / ("out/" + channel.scanFileName);
            std::ostringstream out, err;
            ASSERT_EQ(DataCommand(path, out, err), 0) << err.str();
            const auto rows = CsvRows(out.str());
            const std::size_t n = channel.leftRepaired.size();
            ASSERT_EQ(rows.size(), n);
            ScanFileContents scan;
            ASSERT_TRUE(ReadScanFile(path, scan, error));
            for (std::size_t k = 0; k < n; ++k) {
                // Place k + 1 holds sample n - 1 - k of the recording.
                const double al = channel.leftRepaired[n - 1 - k], ar = channel.rightRepaired[n - 1 - k];
                ASSERT_EQ(rows[k][0], static_cast<double>(k + 1));
                ASSERT_NEAR(rows[k][1], scan.cdelt1 * (static_cast<double>(k + 1) - scan.pmcsun), 1e-6);
                ASSERT_NEAR(rows[k][2], al, 1.01 * scan.blocks[0].bscale + 1e-6 * std::fabs(al))
                    << channel.scanFileName << " place " << k + 1;
                ASSERT_NEAR(rows[k][3], ar, 1.01 * scan.blocks[1].bscale + 1e-6 * std::fabs(ar))
                    << channel.scanFileName << " place " << k + 1;
            }
            ++compared;
        }
        EXPECT_GT(compared, 2);
    }
}

TEST(ScanCards, GroupsAndRanges) {
    TempFolder home;
    WriteFileBytes(home / "x.001", MadeScanFile(4));
    std::ostringstream out, err;
    ASSERT_EQ(CardsCommand(home / "x.001", out, err), 0);
    const std::string text = out.str();
    for (const char* part :
         {"Main header\n  SIMPLE  =              F\t/ FILE DOES NOT CONFORM TO FITS STANDARD\n",
          "  FLAG_IV =              1\t/ IF 1 => R,L; IF 0 => I,V \n"
          "  COMMENT  TQSUN - TEMPERATURE OF A SURFACE OF THE QUIET SUN AGREED WITH THE \n",
          "  END\nChannel group\n  OBS-FREQ=         12.500\t/ GHz \n",
          "First polarisation (al)\n  POLARIZ =              1\t/ IF 1 - (R or R+L), IF 0- (L or R_L)\n",
          "  END\n  n 4, smallest -29999, largest 29999\nSecond polarisation (ar)\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nnot in\n" << text;

    WriteFileBytes(home / "empty.001", MadeScanFile(0));
    std::ostringstream none, errors;
    ASSERT_EQ(CardsCommand(home / "empty.001", none, errors), 0);
    EXPECT_NE(none.str().find("  END\n  n 0\nSecond"), std::string::npos);
}

TEST(ScanData, CsvOfASmallFile) {
    TempFolder home;
    WriteFileBytes(home / "x.001", MadeScanFile(2));
    std::ostringstream out, err;
    ASSERT_EQ(DataCommand(home / "x.001", out, err), 0);
    // PMCSUN 3 - 7.5 = -4.5, CDELT1 2.5; the al samples 0 and 0.25 and the ar
    // samples -11 and 3 reversed, each within a step of its BSCALE.
    EXPECT_EQ(out.str(),
              "place,offset_arcsec,al,ar\n1,13.75,0.249995843,2.99976563\n"
              "2,16.25,4.15666682e-06,-10.9997654\n");
    std::ostringstream none, missing;
    EXPECT_EQ(DataCommand(home / "y.001", none, missing), 1);
    EXPECT_EQ(missing.str(), "Can't open " + (home / "y.001") + "\n");
}

}  // namespace

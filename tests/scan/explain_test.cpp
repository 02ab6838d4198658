// vm-scan explain against what vm-fits actually writes: for the bundled
// sample and for recordings with each reason a channel gets no scan file, the
// scan files it predicts are exactly those written, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "convert/pointing.h"
#include "inputs/little_endian.h"
#include "json/json.h"
#include "output/scan_output.h"
#include "scan/explain.h"
#include "scan/scan_fixtures.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = VMFITS_SOURCE_DIR "/samples/sun-2003-11-05";

// Explains the recording, converts it with vm-fits and checks that the
// planned scan files, their bytes and the index are exactly what was written.
RecordingExplanation ExplainAndConvert(const TempFolder& home, const std::string& header,
                                       const std::string& table, bool third = false) {
    RecordingExplanation e;
    std::string error;
    EXPECT_TRUE(ExplainRecording(header, third, table.empty() ? home / "no-table.cfg" : table, false, e,
                                 error))
        << error;
    const std::string out = home / ("out-" + std::to_string(third));
    const ProcessResult r = Convert(home, header, out, table, third ? std::vector<std::string>{"back"}
                                                                    : std::vector<std::string>{});
    const std::map<std::string, std::string> written = FolderContents(out);
    if (!e.run.markerFileRead) {
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(written.empty());
        return e;
    }
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::map<std::string, std::string> expected;
    std::string index;
    PointingValues pointing = DerivePointingValues(e.header);
    for (const ChannelPlan& channel : e.channels) {
        EXPECT_EQ(channel.verdict == ChannelVerdict::ScanFile, ChannelReason(channel).empty());
        if (channel.verdict != ChannelVerdict::ScanFile) continue;
        expected[channel.scanFileName] = ScanFileBytes(e.header, pointing, 0, channel.scan);
        index += ScanIndexLine(e.run.baseName, e.run.scanNumber.number, channel.scanCounter,
                               channel.frequency);
    }
    expected[e.run.scanIndexName] = index;
    EXPECT_EQ(written.size(), expected.size());
    for (const auto& [name, bytes] : expected) {
        const auto found = written.find(name);
        EXPECT_NE(found, written.end()) << name;
        if (found != written.end()) {
            EXPECT_TRUE(found->second == bytes) << name << " differs from the plan";
        }
    }
    return e;
}

// The reasons of channels 0 to `count` - 1 ("" for a scan file).
std::vector<std::string> Reasons(const RecordingExplanation& e, int count) {
    std::vector<std::string> reasons;
    for (int c = 0; c < count; ++c) reasons.push_back(ChannelReason(e.channels[static_cast<std::size_t>(c)]));
    return reasons;
}

std::string Simulated(const TempFolder& home, const std::vector<std::string>& options) {
    std::vector<std::string> arguments{"--out", home / "rec", "--cfg"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    Simulate(arguments);
    return home / "rec/sun.05h";
}

TEST(Explain, BundledSample) {
    TempFolder home;
    const RecordingExplanation e =
        ExplainAndConvert(home, kSample + "/sun.05h", kSample + "/vm-fits.cfg");
    EXPECT_EQ(e.run.markers.size(), 16u);
    EXPECT_EQ(e.run.scanNumber.number, 5);
    EXPECT_EQ(e.run.scanNumber.source, ScanNumberSource::FirstDot);
    EXPECT_EQ(e.run.baseName, "s05b03");
    EXPECT_EQ(Reasons(e, 11),
              (std::vector<std::string>{"", "", "disabled", "ar3 cannot be opened", "", "", "", "",
                                        "0.500 GHz is at or below the table's last row (0.800 GHz)", "",
                                        "disabled"}));
    EXPECT_EQ(e.channels[9].scanFileName, "s05b03_05z.007");
    EXPECT_EQ(e.channels[0].right.samples, 1024);  // the short ar0

    std::ostringstream out, err;
    ExplainOptions options;
    options.headerPath = kSample + "/sun.05h";
    options.tablePath = kSample + "/vm-fits.cfg";
    EXPECT_EQ(ExplainCommand(options, out, err), 0);
    const std::string text = out.str();
    for (const char* line : {
             "Marker file:       " VMFITS_SOURCE_DIR "/samples/sun-2003-11-05/sun.05p, 16 values (8 pairs)\n",
             "Scan number:       5, read after the first \".\" of the marker file's name\n",
             "Warnings:          2\n  channel 0 ar-short: ar0 holds 1024 samples, al0 2048: LL samples 1024 to "
             "2047 keep the repaired al values\n  channel 3 ar-missing: ar3 cannot be opened: channel 3 gets no scan "
             "file\n",
             "Repair:            two-sided extrapolation (no third argument)\n",
             "  0 yes    1   162.6000   2048   1024     1.168   0.01281   3525    391.84  178,257,1815   "
             "s05b03_05z.001 [ar-short]\n",
             "  3 yes    1   162.6000   2048   none     2.800         -      -         -  -              "
             "ar3 cannot be opened [ar-missing]\n",
             "  8 yes    3   162.5000   2048   2048     0.500         -      -         -  13             "
             "0.500 GHz is at or below the table's last row (0.800 GHz)\n",
             // Channels 10 to 63 are disabled with rows alike: one row.
             "  9 yes    3   162.5000   2048   2048    16.764   0.03617  10543     26.92  13             "
             "s05b03_05z.007\n 10 no     0     0.0000   none   none     0.000         -      -         -  -       "
             "       disabled; the same for channels 11 to 63\n\n7 scan files, 55 channels disabled, 2 skipped (1 ar file missing, 1 without "
             "calibration values), 2 warnings\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nnot in\n" << text;
}

TEST(Explain, DefectsUnderBothRules) {
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "2", "--defects", "--channels", "12"});
    for (const bool third : {false, true}) {
        const RecordingExplanation e = ExplainAndConvert(home, header, home / "rec/vm-fits.cfg", third);
        int files = 0;
        for (const ChannelPlan& c : e.channels) files += c.verdict == ChannelVerdict::ScanFile;
        EXPECT_GT(files, 3);
        EXPECT_EQ(e.run.inputs.repairMode != kTwoSidedExtrapolation, third);
    }
}

TEST(Explain, MissingSampleFiles) {
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "3", "--channels", "6"});
    fs::remove(home / "rec/al1");
    fs::remove(home / "rec/ar2");
    fs::remove(home / "rec/al4");
    fs::remove(home / "rec/ar4");
    const RecordingExplanation e = ExplainAndConvert(home, header, home / "rec/vm-fits.cfg");
    const std::vector<std::string> reasons = Reasons(e, 6);
    EXPECT_EQ(reasons[1], "al1 cannot be opened");
    EXPECT_EQ(reasons[2], "ar2 cannot be opened");
    EXPECT_EQ(reasons[4], "al4 cannot be opened");
    EXPECT_FALSE(e.channels[1].left.found);
    EXPECT_TRUE(e.channels[1].right.found);  // looked at although vm-fits does not open it
    EXPECT_EQ(e.channels[1].right.samples, 2000);
}

TEST(Explain, CalibrationReasons) {
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "4", "--channels", "4"});
    const struct {
        const char* table;
        std::string reason;
    } cases[] = {
        {"30 0.03 0 20\n0.1 0.01 0 300\n", "TQSUN is 0"},
        {"30 0 0 0\n0.1 0 0 0\n", "FLUX_L and TQSUN and THETA-DG are 0"},
        {"30 0.03 5000 20\n25 0.03 5000 20\n", "is at or below the table's last row (25.000 GHz)"},
        {"", "the calibration table cannot be read"},
    };
    for (const auto& c : cases) {
        std::string table;
        if (*c.table) {
            table = home / "table.cfg";
            WriteFileBytes(table, std::string(c.table));
        }
        const RecordingExplanation e = ExplainAndConvert(home, header, table);
        for (const ChannelPlan& channel : e.channels) {
            if (!channel.enabled) continue;
            EXPECT_NE(ChannelReason(channel).find(c.reason), std::string::npos)
                << ChannelReason(channel) << " for " << c.table;
        }
        EXPECT_EQ(e.run.tableReadable, *c.table != '\0');
        fs::remove_all(home / "out-0");
    }
}

TEST(Explain, MissingMarkerFileWritesNothing) {
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "5", "--channels", "3"});
    fs::remove(home / "rec/sun.05p");
    const RecordingExplanation e = ExplainAndConvert(home, header, home / "rec/vm-fits.cfg");
    EXPECT_FALSE(e.run.markerFileRead);
    for (const std::string& reason : Reasons(e, 64))
        EXPECT_EQ(reason, "the marker file cannot be opened, so vm-fits writes nothing");
}

// Markers that change nothing, and pairs that are passed over, are named.
TEST(Explain, MarkersWithoutEffect) {
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "6", "--channels", "1", "--samples", "300"});
    ObservationHeader h;
    ASSERT_TRUE(ReadObservationHeader(header, h));
    const int16_t tag = static_cast<int16_t>(8 * h.setup.calibrationIndex[0]);
    WriteFileBytes(home / "rec/sun.05p", Int16Bytes({1, tag, 100, tag, 0, tag, 298, tag, -1, tag}));
    // al0 holds 0 after the marker at 100: its estimate there is 0.
    std::string al = ReadFileBytes(home / "rec/al0");
    al.replace(4 * 101, 8, std::string(8, '\0'));
    WriteFileBytes(home / "rec/al0", al);

    const RecordingExplanation e = ExplainAndConvert(home, header, home / "rec/vm-fits.cfg");
    const std::vector<ChannelMarker>& markers = e.channels[0].markers;
    ASSERT_EQ(markers.size(), 5u);
    EXPECT_EQ(markers[0].left, MarkerEffect::OutsideSamples);
    EXPECT_EQ(markers[0].right, MarkerEffect::OutsideSamples);
    EXPECT_EQ(markers[1].left, MarkerEffect::ZeroEstimate);
    EXPECT_EQ(markers[1].right, MarkerEffect::Repaired);
    EXPECT_EQ(markers[2].pair.use, MarkerPairUse::NotAPosition);
    EXPECT_FALSE(markers[2].applied);
    EXPECT_EQ(markers[3].left, MarkerEffect::OutsideSamples);  // 298 of 300
    EXPECT_EQ(markers[4].pair.use, MarkerPairUse::NotAPosition);

    std::ostringstream text;
    WriteExplanationJson(e, text);
    Json json;
    std::string error;
    ASSERT_TRUE(ParseJson(text.str(), json, error)) << error;
    const Json& channel = json["channels"][0];
    EXPECT_EQ(channel["markers_applied"], Json::parse("[1, 100, 298]"));
    const std::string end = "too close to an end of the 300 samples for two-sided extrapolation (it reads the "
                            "samples from 2 before it to 2 after it)";
    EXPECT_EQ(channel["markers_without_effect"],
              Json::array({{{"position", 1}, {"polarisation", "both"}, {"reason", end}},
                           {{"position", 100}, {"polarisation", "al"},
                            {"reason", "the estimate from the two samples after it is 0"}},
                           {{"position", 298}, {"polarisation", "both"}, {"reason", end}}}));
    EXPECT_EQ(channel["markers_passed_over"],
              Json::array({{{"position", 0}, {"reason", "0 is not a position"}},
                           {{"position", -1}, {"reason", "-1 is not a position"}}}));
}

// The JSON object as scripts read it: every key, and a reason exactly where
// there is no scan file.
TEST(Explain, JsonKeys) {
    const std::string python = "/usr/bin/python3";
    if (!FileExists(python)) GTEST_SKIP() << "no /usr/bin/python3";
    TempFolder home;
    const std::string header = Simulated(home, {"--seed", "7", "--defects", "--channels", "10"});
    for (const bool tableThere : {true, false}) {
        ExplainOptions options;
        options.headerPath = header;
        options.tablePath = tableThere ? home / "rec/vm-fits.cfg" : home / "none.cfg";
        options.json = true;
        std::ostringstream out, err;
        ASSERT_EQ(ExplainCommand(options, out, err), 0);
        WriteFileBytes(home / "explain.json", out.str());
        const char* check = R"(
import json, sys
d = json.load(open(sys.argv[1]))
for key in ("marker_file", "marker_values", "scan_number", "base_name", "repair", "calibration_table"):
    assert key in d, key
assert d["repair"] == "two-sided"
assert isinstance(d["marker_values"], int)
assert (d["calibration_table"] is None) == (sys.argv[2] == "0")
assert len(d["channels"]) == 64
for i, c in enumerate(d["channels"]):
    assert c["channel"] == i
    for key in ("enabled", "frequency_ghz", "calibration_index", "samples_al", "samples_ar",
                "markers_applied", "scan_file", "reason"):
        assert key in c, key
    assert (c["reason"] is None) == (c["scan_file"] is not None), c
    assert all(isinstance(p, int) for p in c["markers_applied"])
print(sum(c["scan_file"] is not None for c in d["channels"]))
)";
        const ProcessResult r =
            RunProcess({python, "-c", check, home / "explain.json", tableThere ? "1" : "0"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, tableThere ? "7\n" : "0\n");
    }
}

TEST(Explain, HeaderThatCannotBeRead) {
    TempFolder home;
    ExplainOptions options;
    options.headerPath = home / "sun.05h";
    std::ostringstream out, err;
    EXPECT_EQ(ExplainCommand(options, out, err), 2);
    EXPECT_EQ(err.str(), "Can't open " + (home / "sun.05h") + "\n");
    EXPECT_EQ(out.str(), "");
}

TEST(FindScanNumber, SaysWhereTheNumberWasFound) {
    const struct {
        const char* path;
        int number;
        ScanNumberSource source;
    } cases[] = {
        {"/obs/sun.05p", 5, ScanNumberSource::FirstDot},
        {"/data.2/sun.07p", 7, ScanNumberSource::FirstDot},
        {"/data/sun.x.07p", 7, ScanNumberSource::NameLastDot},
        {"/obs/sunp", 0, ScanNumberSource::None},
    };
    for (const auto& c : cases) {
        const ScanNumber found = FindScanNumber(c.path, '/');
        EXPECT_EQ(found.number, c.number) << c.path;
        EXPECT_EQ(found.source, c.source) << c.path;
    }
}

}  // namespace

// The pictures themselves: each kind from the bundled sample and from
// simulated recordings, as PNG and SVG of the asked size with text drawn, the
// same bytes every time, and the errors of the picture subcommands.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "scan/picture_checks.h"
#include "scan/plot_commands.h"
#include "scan/scan_fixtures.h"
#include "scan/scan_tool.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = VMFITS_SOURCE_DIR "/samples/sun-2003-11-05";
const std::string kTable = kSample + "/vm-fits.cfg";

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun Tool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "vm-scan");
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    ScanToolContext context;
    context.defaultTablePath = kTable;
    std::ostringstream out, err;
    const int code = RunScanTool(static_cast<int>(argv.size()), argv.data(), context, out, err);
    return {code, out.str(), err.str()};
}

// The sample converted by vm-fits: its scan index in `home`/out.
std::string ConvertedSample(const TempFolder& home) {
    EXPECT_EQ(Convert(home, kSample + "/sun.05h", home / "out", kTable).exitCode, 1);
    return home / "out/s05b03_05z.0hd";
}

// Runs a picture subcommand and checks the file it writes.
void ExpectPicture(std::vector<std::string> arguments, const std::string& path, int width, int height) {
    arguments.insert(arguments.end(), {"-o", path});
    if (width != 1200 || height != 800)
        arguments.insert(arguments.end(), {"--size", std::to_string(width) + "x" + std::to_string(height)});
    const ToolRun run = Tool(arguments);
    ASSERT_EQ(run.code, 0) << arguments[0] << ": " << run.err;
    EXPECT_EQ(run.out, "wrote " + path + "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(FileExists(path + ".part"));
    const std::string bytes = ReadFileBytes(path);
    if (FormatOfPath(path) == PictureFormat::Svg) {
        ExpectDrawnSvg(bytes, width, height, path);
    } else {
        ExpectDrawnPng(bytes, width, height, path);
    }
}

TEST(Pictures, EachKindFromTheSample) {
    TempFolder home;
    const std::string index = ConvertedSample(home);
    const struct {
        std::vector<std::string> arguments;
        const char* name;
        int width, height;
    } cases[] = {
        {{"plot", home / "out/s05b03_05z.005"}, "plot.png", 1200, 800},
        {{"plot", home / "out/s05b03_05z.001"}, "plot.svg", 1200, 800},
        {{"plot", home / "out/s05b03_05z.001", "--recording", kSample + "/sun.05h"}, "plot-flagged.PNG", 1200, 800},
        {{"overview", "--index", index, "--pol", "LL", "--recording", kSample + "/sun.05h", "--cfg", kTable,
          "--third", "back"},
         "overview-flagged.svg", 1200, 800},
        {{"overview", "--index", index}, "overview.png", 1200, 800},
        {{"overview", "--index", index, "--pol", "LL"}, "overview-ll.png", 640, 480},
        {{"overview", "--index", index, "--pol", "i"}, "overview-i.svg", 1000, 1000},
        {{"overview", "--index", index, "--pol", "V"}, "overview-v.png", 2000, 600},
        {{"repair-plot", kSample + "/sun.05h", "1"}, "repair.png", 1200, 800},
        {{"repair-plot", kSample + "/sun.05h", "0", "back"}, "repair-back.svg", 800, 900},
        {{"repair-plot", kSample + "/sun.05h", "8", "--cfg", kTable}, "repair-8.png", 300, 300},
    };
    for (const auto& c : cases) ExpectPicture(c.arguments, home / c.name, c.width, c.height);
}

TEST(Pictures, EachKindFromSimulatedRecordings) {
    const struct {
        std::vector<std::string> options;
        bool third;
    } recordings[] = {
        {{"--seed", "7", "--channels", "12", "--defects"}, false},
        {{"--seed", "8", "--channels", "20", "--samples", "8191"}, true},
        {{"--seed", "9", "--channels", "1", "--samples", "40", "--no-jumps"}, false},
    };
    for (const auto& recording : recordings) {
        TempFolder home;
        std::vector<std::string> arguments{"--out", home / "rec", "--cfg"};
        arguments.insert(arguments.end(), recording.options.begin(), recording.options.end());
        Simulate(arguments);
        const std::string header = home / "rec/sun.05h", table = home / "rec/vm-fits.cfg";
        ASSERT_EQ(Convert(home, header, home / "out", table,
                          recording.third ? std::vector<std::string>{"back"} : std::vector<std::string>{})
                      .exitCode,
                  1);
        RecordingExplanation e;
        std::string error;
        ASSERT_TRUE(ExplainRecording(header, recording.third, table, false, e, error));
        int converted = -1;
        std::string first;
        for (const ChannelPlan& channel : e.channels) {
            if (channel.verdict != ChannelVerdict::ScanFile || converted >= 0) continue;
            converted = channel.channel;
            first = home / ("out/" + channel.scanFileName);
        }
        ASSERT_GE(converted, 0);
        ExpectPicture({"plot", first}, home / "plot.png", 1200, 800);
        ExpectPicture({"overview", "--index", home / ("out/" + e.run.scanIndexName), "--pol", "I"},
                      home / "overview.svg", 1200, 800);
        std::vector<std::string> repair{"repair-plot", header, std::to_string(converted), "--cfg", table};
        if (recording.third) repair.push_back("back");
        ExpectPicture(repair, home / "repair.png", 900, 700);
    }
}

// Text is drawn with real glyphs: a title of wide letters leaves much more ink
// than one of narrow letters (missing fonts give the same boxes for both, or
// nothing at all).
TEST(Pictures, TextIsDrawnWithGlyphs) {
    ScanFileContents scan;
    std::string error;
    ASSERT_TRUE(ParseScanFile(MadeScanFile(50), "x.001", scan, error));
    // Characters that the library would take for escapes or markup are drawn as such.
    const std::string titles[3] = {std::string(30, 'I'), std::string(30, 'W'), "SUN #5 <A&B> #u"};
    int ink[3] = {0, 0, 0};
    for (const int k : {0, 1, 2}) {
        PlotPicture picture;
        ASSERT_TRUE(ScanPicture(scan, "x.001", picture, error));
        picture.title = titles[k];
        std::string bytes;
        ASSERT_TRUE(DrawPicture(picture, PictureSize{}, PictureFormat::Png, bytes, error)) << error;
        Image image;
        ASSERT_TRUE(DecodePng(bytes, image, error)) << error;
        ink[k] = DarkPixels(image, 0, 50);
    }
    EXPECT_GT(ink[0], 200);
    EXPECT_GT(ink[1], 2 * ink[0]);
    EXPECT_GT(ink[2], ink[0]);
}

// The same input gives the same bytes: drawn twice in one process, and made
// twice by the program.
TEST(Pictures, SameInputSameBytes) {
    TempFolder home;
    const std::string index = ConvertedSample(home);
    ScanFileContents scan;
    std::string error;
    ASSERT_TRUE(ReadScanFile(home / "out/s05b03_05z.003", scan, error));
    PlotPicture picture;
    ASSERT_TRUE(ScanPicture(scan, "s05b03_05z.003", picture, error));
    for (const PictureFormat format : {PictureFormat::Png, PictureFormat::Svg}) {
        std::string first, second;
        ASSERT_TRUE(DrawPicture(picture, PictureSize{}, format, first, error)) << error;
        ASSERT_TRUE(DrawPicture(picture, PictureSize{}, format, second, error)) << error;
        EXPECT_TRUE(first == second) << (format == PictureFormat::Svg ? "SVG" : "PNG");
    }
    for (const char* name : {"a.png", "a.svg"}) {
        std::string made[2];
        for (std::string& bytes : made) {
            const ProcessResult r = RunProcess({VMSCAN_BINARY, "overview", "--index", index, "-o", home / name});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            bytes = ReadFileBytes(home / name);
        }
        EXPECT_TRUE(made[0] == made[1]) << name;
        EXPECT_TRUE(made[0] == ReadFileBytes(home / name));
    }
    // The program's SVG is the one drawn in this process after others.
    std::string svg;
    ASSERT_TRUE(WritePicture(picture, PictureSize{}, home / "b.svg", error));
    const ProcessResult r = RunProcess({VMSCAN_BINARY, "plot", home / "out/s05b03_05z.003", "-o", home / "c.svg"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expected = ReadFileBytes(home / "b.svg");
    EXPECT_TRUE(ReadFileBytes(home / "c.svg") == expected);
}

struct ErrorCase {
    std::vector<std::string> arguments;
    int code;
    std::string message;  // all of standard error (code 1) or its first line (code 2)
};

std::vector<ErrorCase> ErrorCases(const TempFolder& home, const std::string& index) {
    const std::string out = home / "out";
    const std::string header = kSample + "/sun.05h";
    WriteFileBytes(home / "cut.001", MadeScanFile(5).substr(0, 300));
    WriteFileBytes(home / "none.001", MadeScanFile(0));
    WriteFileBytes(home / "bad.0hd", "s05b03_05z.001 1.168[GHz]\r\n");
    WriteFileBytes(out + "/missing.0hd", "s05b03_05z.001\t1.168[GHz]\r\nnot-there.002\t2.000[GHz]\r\n");
    WriteFileBytes(home / "empty.0hd", "");
    WriteFileBytes(home / "nopoints.0hd", "none.001\t12.500[GHz]\r\n");
    fs::create_directories(home / "dir.png");
    return {
        {{"plot", home / "none.999", "-o", home / "p.png"}, 1, "Can't open " + (home / "none.999")},
        {{"plot", home / "cut.001", "-o", home / "p.png"}, 1,
         home / "cut.001" + ": cut short in the main header (no END card)"},
        {{"plot", home / "none.001", "-o", home / "p.png"}, 1,
         home / "none.001" + ": the scan file holds no points to draw"},
        {{"plot", out + "/s05b03_05z.001", "-o", home / "no/such/folder.png"}, 1,
         "Can't create " + (home / "no/such/folder.png")},
        {{"plot", out + "/s05b03_05z.001", "-o", home / "dir.png"}, 1, "Can't write " + (home / "dir.png")},
        {{"overview", "--index", home / "none.0hd", "-o", home / "o.png"}, 1, "Can't open " + (home / "none.0hd")},
        {{"overview", "--index", home / "bad.0hd", "-o", home / "o.png"}, 1,
         home / "bad.0hd" + ": line 1 is not NAME<tab>FREQUENCY[GHz]: 's05b03_05z.001 1.168[GHz]'"},
        {{"overview", "--index", out + "/missing.0hd", "-o", home / "o.png"}, 1,
         "Can't open " + out + "/not-there.002"},
        {{"overview", "--index", home / "empty.0hd", "-o", home / "o.png"}, 1,
         home / "empty.0hd" + ": the index lists no scan files"},
        {{"overview", "--index", home / "nopoints.0hd", "-o", home / "o.png"}, 1,
         home / "none.001" + ": the scan file holds no points to draw"},
        {{"plot", home / "none.001", "--recording", header, "-o", home / "p.png"}, 1,
         "none.001 is not a scan file that " + header + " gives"},
        {{"overview", "--index", index, "--recording", home / "none.05h", "-o", home / "o.png"}, 2,
         "Can't open " + (home / "none.05h")},
        {{"plot", out + "/s05b03_05z.001", "-o", home / "p.jpg"}, 2,
         "--output: '" + home / "p.jpg" + "' does not end in .png or .svg: a picture is written as PNG or SVG"},
        {{"plot", out + "/s05b03_05z.001", "--cfg", kTable, "-o", home / "p.png"}, 2, "--cfg requires --recording"},
        {{"repair-plot", header, "2", "-o", home / "r.png"}, 1,
         header + ": channel 2: disabled; vm-fits repairs no samples of it"},
        {{"repair-plot", header, "3", "-o", home / "r.png"}, 1,
         header + ": channel 3: ar3 cannot be opened; vm-fits repairs no samples of it"},
        {{"repair-plot", header, "64", "-o", home / "r.png"}, 1, "channel 64 is not a channel number (0 to 63)"},
        {{"repair-plot", home / "none.05h", "1", "-o", home / "r.png"}, 2, "Can't open " + (home / "none.05h")},
        // Bad usage.
        {{"plot", out + "/s05b03_05z.001"}, 2, "--output is required"},
        {{"plot", out + "/s05b03_05z.001", "-o", home / "p.png", "--size", "1200"}, 2,
         "--size: '1200' is not WIDTHxHEIGHT in pixels, each from 300 to 8000"},
        {{"plot", out + "/s05b03_05z.001", "-o", home / "p.png", "--size", "100x100"}, 2,
         "--size: '100x100' is not WIDTHxHEIGHT in pixels, each from 300 to 8000"},
        {{"overview", "--index", index, "-o", home / "o.png", "--pol", "Q"}, 2,
         "--pol: 'Q' is not RR, LL, I or V"},
        {{"overview", "-o", home / "o.png"}, 2, "--index is required"},
        {{"overview", index, "-o", home / "o.png"}, 2, "--index is required"},
        {{"repair-plot", header, "-o", home / "r.png"}, 2, "CHANNEL is required"},
        {{"repair-plot", header, "one", "-o", home / "r.png"}, 2,
         "Could not convert: CHANNEL = one"},
        {{"repair-plot", header, "1", "back", "more", "-o", home / "r.png"}, 2,
         "The following argument was not expected: more"},
    };
}

TEST(Pictures, ErrorsAndBadUsage) {
    TempFolder home;
    const std::string index = ConvertedSample(home);
    for (const ErrorCase& c : ErrorCases(home, index)) {
        const ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.code, c.code) << c.message;
        EXPECT_EQ(c.code == 1 ? run.err : run.err.substr(0, run.err.find('\n')), c.code == 1 ? c.message + "\n" : c.message);
        EXPECT_EQ(run.out, "");
    }
    for (const char* name : {"p.png", "o.png", "r.png", "p.jpg", "p.png.part", "dir.png.part"})
        EXPECT_FALSE(FileExists(home / name)) << name;
}

// The program itself on the same errors: the exit code and the message only,
// never a crash (in the sanitizer build any report would add to the message).
TEST(Pictures, ErrorsOfTheProgram) {
    TempFolder home;
    const std::string index = ConvertedSample(home);
    for (const ErrorCase& c : ErrorCases(home, index)) {
        std::vector<std::string> argv{VMSCAN_BINARY};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const ProcessResult r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, c.code) << c.message << "\n" << r.err;
        EXPECT_EQ(c.code == 1 ? r.err : r.err.substr(0, r.err.find('\n')), c.code == 1 ? c.message + "\n" : c.message);
    }
}

TEST(Pictures, HelpOfEachPictureSubcommand) {
    for (const char* command : {"plot", "overview", "repair-plot"}) {
        const ToolRun run = Tool({command, "--help"});
        EXPECT_EQ(run.code, 0);
        EXPECT_NE(run.out.find("--size WxH"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("Exit codes:"), std::string::npos);
    }
    EXPECT_NE(Tool({"repair-plot", "--help"}).out.find("Usage: vm-scan repair-plot [OPTIONS] HEADER CHANNEL [THIRD]"),
              std::string::npos);
}

}  // namespace

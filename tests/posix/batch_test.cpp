// vm-batch's library in-process: the header rule, the manifest and its
// reading after damage, the decision to convert or skip, shards, the summary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "batch/batch_run.h"
#include "batch/digest.h"
#include "batch/discovery.h"
#include "batch/manifest.h"
#include "batch/merge.h"
#include "batch/plan.h"
#include "batch/runner.h"
#include "batch/summary.h"
#include "convert/channel_plan.h"
#include "inputs/observation_header.h"
#include "json/json.h"
#include "support/test_support.h"
#include "watch/watch.h"

namespace fs = std::filesystem;

namespace {

FolderListing Listing(const std::vector<std::pair<std::string, int64_t>>& files) {
    FolderListing listing;
    for (const auto& [name, size] : files) listing[name] = FileStamp{name, size, 1000};
    return listing;
}

TEST(BatchHeaders, HeaderRuleOverFolderListings) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, int64_t>> files;
        std::vector<std::string> headers;
    };
    const Case cases[] = {
        {"header with marker", {{"sun.05h", 1478}, {"sun.05p", 24}, {"al0", 8000}}, {"sun.05h"}},
        {"1478 bytes without marker", {{"sun.05h", 1478}}, {"sun.05h"}},
        {"half-copied header with marker", {{"sun.05h", 700}, {"sun.05p", 0}}, {"sun.05h"}},
        {"short file without marker is no header", {{"sun.05h", 700}}, {}},
        {"a name ending in p is never a header", {{"sun.05p", 1478}}, {}},
        {"marker of a one-letter name", {{"h", 3}, {"p", 0}}, {"h"}},
        {"any last letter counts", {{"notes.txt", 1478}, {"scan.x", 10}, {"scan.p", 4}}, {"notes.txt", "scan.x"}},
        {"two headers in one folder", {{"a.05h", 1478}, {"a.05p", 2}, {"a.06h", 1478}, {"a.06p", 2}},
         {"a.05h", "a.06h"}},
        {"sample files are no headers", {{"al0", 8000}, {"ar0", 8000}, {"vm-fits.cfg", 467}}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(HeadersInFolder(Listing(c.files)), c.headers) << c.what;
}

TEST(BatchHeaders, InputsAreHeaderMarkerAndSampleFilesInChannelOrder) {
    const FolderListing files =
        Listing({{"sun.05h", 1478}, {"sun.05p", 8}, {"al10", 4}, {"ar10", 4}, {"al2", 4}, {"al64", 4},
                 {"al02", 4}, {"sun.06h", 1478}, {"vm-fits.cfg", 9}});
    const Recording r = RecordingInFolder("2003/11", "sun.05h", files);
    std::vector<std::string> names;
    for (const FileStamp& s : r.inputs) names.push_back(s.name);
    EXPECT_EQ(names, (std::vector<std::string>{"sun.05h", "sun.05p", "al2", "al10", "ar10"}));
    EXPECT_EQ(r.Path(), "2003/11/sun.05h");
    EXPECT_TRUE(r.hasMarker);
    EXPECT_EQ(RecordingInFolder("", "sun.06h", files).Path(), "sun.06h");
    EXPECT_FALSE(RecordingInFolder("", "sun.06h", files).hasMarker);
}

TEST(BatchHeaders, WalkSortsSkipsTheOutputFolderAndLinksToFolders) {
    TempFolder root;
    const std::string archive = root / "archive";
    for (const char* folder : {"b", "a/x", "a/out", "a.b"}) fs::create_directories(archive + "/" + folder);
    for (const char* header : {"b/sun.05h", "a/x/sun.06h", "a/out/sun.07h", "a.b/sun.08h", "top.09h"})
        WriteFileBytes(archive + "/" + header, std::string(1478, '\0'));
    fs::create_directory_symlink(archive + "/b", archive + "/link-to-b");
    fs::create_symlink(archive + "/b/sun.05h", archive + "/b/alias.05h");

    Discovery found;
    std::string error;
    ASSERT_TRUE(FindRecordings(archive, archive + "/a/out", found, error)) << error;
    std::vector<std::string> paths;
    for (const Recording& r : found.recordings) paths.push_back(r.Path());
    EXPECT_EQ(paths, (std::vector<std::string>{"a.b/sun.08h", "a/x/sun.06h", "b/alias.05h", "b/sun.05h", "top.09h"}));
    EXPECT_TRUE(found.problems.empty());

    EXPECT_FALSE(FindRecordings(root / "none", "", found, error));
    EXPECT_EQ(error, "Can't read " + (root / "none") + ": No such file or directory");
}

TEST(BatchJson, RoundTripOfAwkwardNames) {
    const std::string names[] = {"plain", "with \"quotes\" and \\", "tab\tline\nfeed\r", "\x01\x7f",
                                 "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8c\x9e", "latin1 \xe9 and cut \xe2\x82",
                                 std::string("nul\0in", 6)};
    for (const std::string& name : names) {
        Json value;
        std::string error;
        ASSERT_TRUE(ParseJson(JsonDump(Json(JsonText(name))), value, error)) << error;
        EXPECT_EQ(BytesOfJsonText(value.get<std::string>()), name);
    }
}

TEST(BatchJson, DamagedTextsAreRejectedWithoutHarm) {
    const std::string good = "{\"a\":[1,-2,{\"b\":true}],\"c\":null,\"d\":\"\\u00e9\\ud83c\\udf1e\"}";
    Json value;
    std::string error;
    ASSERT_TRUE(ParseJson(good, value, error)) << error;
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(ParseJson(good.substr(0, cut), value, error)) << cut;
    const char* bad[] = {"{\"a\":01}", "[1,]", "{\"a\" 1}", "{} {}", "\"tab\there\""};
    for (const char* text : bad) EXPECT_FALSE(ParseJson(text, value, error)) << text;
    EXPECT_FALSE(ParseJson(std::string(100000, '['), value, error));
    EXPECT_EQ(error, "nested deeper than 16 levels");
}

ManifestEntry Finished(const std::string& recording, const std::string& time) {
    ManifestEntry e;
    e.recording = recording;
    e.time = time;
    e.inputs = {{"sun.05h", 1478, 11}, {"sun.05p", 24, 12}, {"al0", 8000, 13}};
    e.table.file = {"/opt/vm-fits.cfg", 467, 14};
    e.table.digest = "00112233aabbccdd";
    e.exitCode = 1;
    e.outputs = {{"x/s05b03_05z.0hd", 40}, {"x/s05b03_05z.001", 9477}};
    return e;
}

TEST(BatchManifest, LineRoundTrip) {
    ManifestEntry e = Finished("x/sun,05h \"odd\"", "2024-01-02T03:04:05.000000006Z");
    e.back = true;
    e.exitCode = 2;
    e.status = "Can't open /out/x/s05b03_05z.0hd";
    e.warnings = {{"ar-short", "ar2 holds 1000 samples, al2 2000: \"LL\""}, {"header-short", ""}};
    const std::string line = ManifestLine(e);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    ManifestEntry back;
    ASSERT_TRUE(ParseManifestLine(line.substr(0, line.size() - 1), back));
    EXPECT_EQ(ManifestLine(back), line);
    EXPECT_EQ(back.warnings, e.warnings);
    // A line written before digests and warnings were kept still reads.
    ASSERT_TRUE(ParseManifestLine(
        "{\"recording\":\"a\",\"state\":\"finished\",\"time\":\"t\",\"inputs\":[],\"table\":{\"path\":\"/c\","
        "\"size\":4,\"mtime_ns\":5},\"back\":false,\"exit_code\":1,\"status\":\"\",\"outputs\":[]}",
        back));
    EXPECT_EQ(back.table.digest, "");
    EXPECT_TRUE(back.warnings.empty());

    ManifestEntry started;
    started.recording = "x/sun.05h";
    started.started = true;
    started.time = "t";
    EXPECT_EQ(ManifestLine(started), "{\"recording\":\"x/sun.05h\",\"state\":\"started\",\"time\":\"t\"}\n");
    ASSERT_TRUE(ParseManifestLine("{\"recording\":\"x/sun.05h\",\"state\":\"started\",\"time\":\"t\"}", back));
    EXPECT_TRUE(back.started);
    EXPECT_FALSE(ParseManifestLine("{\"recording\":\"x\",\"state\":\"finished\",\"time\":\"t\"}", back));
    EXPECT_FALSE(ParseManifestLine("[]", back));
}

TEST(BatchManifest, LatestEntryOfEachRecording) {
    const std::string a1 = ManifestLine(Finished("a", "2024-01-01T00:00:01.000000000Z"));
    ManifestEntry a2e = Finished("a", "2024-01-01T00:00:02.000000000Z");
    a2e.exitCode = 2;
    const std::string a2 = ManifestLine(a2e);
    const std::string b1 = ManifestLine(Finished("b", "2024-01-01T00:00:03.000000000Z"));
    ManifestEntry startedB;
    startedB.recording = "b";
    startedB.started = true;
    startedB.time = "2024-01-01T00:00:04.000000000Z";

    // Later lines win; a torn last line and garbage lines are ignored.
    auto latest = LatestEntries({a1 + "garbage\n" + b1 + a2 + a1.substr(0, a1.size() / 2)});
    ASSERT_EQ(latest.size(), 2u);
    EXPECT_EQ(latest["a"].exitCode, 2);
    EXPECT_EQ(latest["b"].exitCode, 1);

    // A torn line followed by a complete one: only the torn one is lost.
    latest = LatestEntries({b1.substr(0, 30) + "\n" + a1});
    EXPECT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest.count("a"), 1u);

    // Across the files of shards the later time wins; a started line voids.
    latest = LatestEntries({a2 + ManifestLine(startedB), a1 + b1});
    EXPECT_EQ(latest["a"].exitCode, 2);
    EXPECT_TRUE(latest["b"].started);
}

class BatchDecision : public ::testing::Test {
public:
    void SetUp() override {
        fs::create_directories(out_ / "x");
        WriteFileBytes(out_ / "x/s05b03_05z.0hd", std::string(40, 'i'));
        WriteFileBytes(out_ / "x/s05b03_05z.001", std::string(9477, 's'));
        recording_.folder = "x";
        recording_.headerName = "sun.05h";
        recording_.headerSize = 1478;
        recording_.hasMarker = true;
        recording_.inputs = Finished("", "").inputs;
        table_ = Finished("", "").table;
        latest_["x/sun.05h"] = Finished("x/sun.05h", "t");
    }
    std::string Reason() { return ReasonToConvert(latest_["x/sun.05h"], recording_, table_, false, out_.path()); }

    // Open to the changes of the table-driven test below.
    TempFolder out_;
    Recording recording_;
    TableStamp table_;
    std::map<std::string, ManifestEntry> latest_;
};

TEST_F(BatchDecision, ReasonsToConvertAgain) {
    EXPECT_EQ(Reason(), "");
    EXPECT_EQ(Decide(recording_, "", latest_, table_, false, out_.path()).action, Action::Skip);

    struct Case {
        const char* expected;
        std::function<void(BatchDecision&)> change;
    };
    const Case cases[] = {
        {"al0 changed", [](BatchDecision& t) { t.recording_.inputs[2].mtimeNs += 1; }},
        {"al0 changed", [](BatchDecision& t) { t.recording_.inputs[2].size = 7996; }},
        {"ar0 is new", [](BatchDecision& t) { t.recording_.inputs.push_back({"ar0", 8000, 20}); }},
        {"al0 is gone", [](BatchDecision& t) { t.recording_.inputs.pop_back(); }},
        {"", [](BatchDecision& t) { t.table_.file = {"/other.cfg", 467, 99}; }},  // a copy elsewhere
        {"the calibration table changed", [](BatchDecision& t) { t.table_.digest = "00112233aabbccde"; }},
        {"the calibration table changed", [](BatchDecision& t) { t.table_.file.size = 468; }},
        {"the calibration table changed", [](BatchDecision& t) {  // a line without a digest
             t.latest_["x/sun.05h"].table.digest.clear();
             t.table_.file.mtimeNs = 99;
         }},
        {"x/s05b03_05z.001 is missing", [](BatchDecision& t) { fs::remove(t.out_ / "x/s05b03_05z.001"); }},
        {"x/s05b03_05z.0hd changed size", [](BatchDecision& t) { WriteFileBytes(t.out_ / "x/s05b03_05z.0hd", "cut"); }},
        {"it failed last time", [](BatchDecision& t) { t.latest_["x/sun.05h"].exitCode = 2; }},
        {"it failed last time", [](BatchDecision& t) { t.latest_["x/sun.05h"].outputs.clear(); }},
        {"its last conversion did not finish", [](BatchDecision& t) { t.latest_["x/sun.05h"].started = true; }},
        {"the repair rule changed", [](BatchDecision& t) { t.latest_["x/sun.05h"].back = true; }},
    };
    for (const Case& c : cases) {
        SetUp();
        c.change(*this);
        EXPECT_EQ(Reason(), c.expected);
        EXPECT_EQ(Decide(recording_, "", latest_, table_, false, out_.path()).action,
                  *c.expected ? Action::Convert : Action::Skip)
            << c.expected;
    }
}

TEST_F(BatchDecision, FailuresAndNotes) {
    recording_.hasMarker = false;
    Decision d = Decide(recording_, "", latest_, table_, false, out_.path());
    EXPECT_EQ(d.action, Action::Fail);
    EXPECT_EQ(d.reason, "marker file sun.05p is missing");

    recording_.hasMarker = true;
    recording_.headerSize = 1000;
    recording_.inputs[0].size = 1000;
    d = Decide(recording_, "writes the same files as x/a.05h", latest_, table_, false, out_.path());
    EXPECT_EQ(d.action, Action::Fail);
    EXPECT_EQ(d.reason, "writes the same files as x/a.05h");
    EXPECT_EQ(d.note, "header is 1000 bytes, not 1478");

    d = Decide(recording_, "", {}, table_, false, out_.path());
    EXPECT_EQ(d.action, Action::Convert);
    EXPECT_EQ(d.reason, "new");
}

// The watch hands a recording over once it is complete and settled, and
// never again while its files stay as they were when it was handled.
TEST_F(BatchDecision, WatchWaitsForCompleteSettledRecordings) {
    struct Case {
        bool handled;
        std::function<void(BatchDecision&)> change;
    };
    const Case cases[] = {
        {true, [](BatchDecision&) {}},
        {true, [](BatchDecision& t) { t.latest_["x/sun.05h"].exitCode = 2; }},  // failed with these files
        {false, [](BatchDecision& t) { t.latest_["x/sun.05h"].exitCode = 2; t.recording_.inputs[2].size = 1; }},
        {false, [](BatchDecision& t) { t.recording_.inputs[2].mtimeNs += 1; }},
        {false, [](BatchDecision& t) { t.latest_["x/sun.05h"].started = true; }},
        {false, [](BatchDecision& t) { fs::remove(t.out_ / "x/s05b03_05z.001"); }},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SetUp();
        cases[i].change(*this);
        EXPECT_EQ(AlreadyHandled(latest_["x/sun.05h"], recording_, out_.path()), cases[i].handled) << i;
    }

    // First seen at 10 s, settled at 12; still growing at 13: the time starts anew.
    SetUp();
    Settling settling;
    for (const auto& [now, grows, complete, settled] : std::vector<std::tuple<double, bool, bool, bool>>{
             {10.0, false, true, false}, {11.9, false, true, false}, {12.0, false, true, true},
             {13.0, true, true, false}, {15.0, false, true, true}, {99.0, false, false, false}}) {
        recording_.inputs[2].size += grows ? 100 : 0;
        EXPECT_EQ(HasSettled(recording_, Completeness{complete, ""}, now, 2.0, settling), settled) << now;
    }

    // Complete: the marker file and both sample files of each enabled channel.
    ObservationHeader header;
    header.setup.channelEnabled[0] = header.setup.channelEnabled[3] = 1;
    const std::vector<uint8_t> bytes = EncodeObservationHeader(header);
    fs::create_directories(out_ / "a/x");
    WriteFileBytes(out_ / "a/x/sun.05h", std::string(bytes.begin(), bytes.end()));
    recording_.inputs = {{"sun.05h", 1478, 1}, {"sun.05p", 0, 1}, {"al0", 8, 1}, {"ar0", 8, 1}, {"al3", 8, 1}};
    EXPECT_EQ(RecordingCompleteness(out_ / "a", recording_).missing, "no ar3");
    recording_.inputs.push_back({"ar3", 8, 1});
    EXPECT_TRUE(RecordingCompleteness(out_ / "a", recording_).complete);
    fs::remove(out_ / "a/x/sun.05h");  // a header that cannot be read: the conversion says why
    EXPECT_TRUE(RecordingCompleteness(out_ / "a", recording_).complete);
    recording_.hasMarker = false;
    EXPECT_EQ(RecordingCompleteness(out_ / "a", recording_).missing, "no marker file");
}

TEST(BatchPlan, NameClashesWithinAFolder) {
    TempFolder archive;
    auto header = [&](const std::string& path, int16_t day) {
        ObservationHeader h;
        h.setup.year = 2003, h.setup.month = 11, h.setup.day = day;
        fs::create_directories(fs::path(archive / path).parent_path());
        WriteFileBytes(archive / path, EncodeObservationHeader(h));
        const std::string folder = fs::path(path).parent_path().string();
        const std::string name = fs::path(path).filename().string();
        FolderListing files = Listing({{name, 1478}, {MarkerPathOf(name), 0}});
        return RecordingInFolder(folder, name, files);
    };
    // sun.05h and moon.05h of one day share s05b03_05z.*; sun.06h and the
    // same names in another folder do not clash.
    const std::vector<Recording> recordings = {header("a/moon.05h", 5), header("a/sun.05h", 5),
                                               header("a/sun.06h", 5), header("a/sun.x5h", 6),
                                               header("b/sun.05h", 5)};
    const auto clashes = NameClashes(recordings, archive.path());
    ASSERT_EQ(clashes.size(), 1u);
    EXPECT_EQ(clashes.at(1), "writes the same files as a/moon.05h (s05b03_05z.0hd and its scan files)");
}

TEST(BatchPlan, Shards) {
    struct Case {
        const char* text;
        bool ok;
        int index, count;
    };
    const Case cases[] = {{"0/3", true, 0, 3}, {"2/3", true, 2, 3}, {"0/1", true, 0, 1},
                          {"3/3", false, 0, 0}, {"0/0", false, 0, 0}, {"-1/3", false, 0, 0},
                          {"1", false, 0, 0}, {"1/", false, 0, 0}, {"a/b", false, 0, 0},
                          {" 1/3", false, 0, 0}, {"1/3/4", false, 0, 0}};
    for (const Case& c : cases) {
        Shard shard;
        std::string error;
        EXPECT_EQ(ParseShard(c.text, shard, error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(shard.index, c.index);
            EXPECT_EQ(shard.count, c.count);
        } else {
            EXPECT_EQ(error, std::string("--shard wants K/N with 0 <= K < N, not \"") + c.text + "\"");
        }
    }
    for (std::size_t position = 0; position < 10; ++position) {
        int owners = 0;
        for (int k = 0; k < 3; ++k) owners += InShard(position, Shard{k, 3}) ? 1 : 0;
        EXPECT_EQ(owners, 1);
    }
}

// What OpenManifest says in another process ("" when it opened the file).
std::string OpenedElsewhere(const std::string& path) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "no pipe";
    const pid_t pid = fork();
    if (pid == 0) {
        ManifestWriter writer;
        std::string error;
        if (!OpenManifest(path, writer, error) && write(pipeFds[1], error.data(), error.size()) < 0) _exit(2);
        _exit(0);
    }
    close(pipeFds[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    waitpid(pid, nullptr, 0);
    return said;
}

TEST(BatchManifestFile, TornTailIsEndedAndASecondWriterRefused) {
    TempFolder folder;
    const std::string path = folder / "vm-batch-manifest.jsonl";
    const std::string a = ManifestLine(Finished("a", "1"));
    const std::string b = ManifestLine(Finished("b", "2"));
    WriteFileBytes(path, a + b.substr(0, 50));  // killed in the middle of a line

    ManifestWriter writer, second;
    std::string error;
    ASSERT_TRUE(OpenManifest(path, writer, error)) << error;
    EXPECT_EQ(OpenedElsewhere(path), path + " is in use by another vm-batch run");
    ASSERT_TRUE(AppendManifestLine(writer, b, error)) << error;
    CloseManifest(writer);

    EXPECT_EQ(ReadFileBytes(path), a + b.substr(0, 50) + "\n" + b);
    std::map<std::string, ManifestEntry> latest;
    ASSERT_TRUE(ReadManifests(folder.path(), latest, error)) << error;
    EXPECT_EQ(latest.size(), 2u);
    EXPECT_EQ(OpenedElsewhere(path), "");  // free again
}

TEST(BatchManifestFile, AFullDiskLeavesNoHalfLine) {
    ManifestWriter writer;
    std::string error;
    ASSERT_TRUE(OpenManifest("/dev/full", writer, error)) << error;
    EXPECT_FALSE(AppendManifestLine(writer, ManifestLine(Finished("a", "1")), error));
    EXPECT_EQ(error, "Can't write /dev/full: No space left on device");
    CloseManifest(writer);
}

TEST(BatchManifestFile, ManifestsOfAllShardsAreRead) {
    TempFolder folder;
    WriteFileBytes(folder / ManifestFileName(0, 1), ManifestLine(Finished("a", "1")));
    WriteFileBytes(folder / ManifestFileName(1, 2), ManifestLine(Finished("b", "1")));
    WriteFileBytes(folder / "vm-batch-manifest.jsonl.bak", ManifestLine(Finished("c", "1")));
    std::map<std::string, ManifestEntry> latest;
    std::string error;
    ASSERT_TRUE(ReadManifests(folder.path(), latest, error)) << error;
    EXPECT_EQ(latest.size(), 2u);
    EXPECT_EQ(ManifestFileName(1, 2), "vm-batch-manifest-1-of-2.jsonl");
    EXPECT_EQ(SummaryFileName(0, 1), "vm-batch-summary.csv");
    EXPECT_EQ(SummaryFileName(2, 3), "vm-batch-summary-2-of-3.csv");
    EXPECT_TRUE(ReadManifests(folder / "none", latest, error));
    EXPECT_TRUE(latest.empty());

    std::string digest;  // 64-bit FNV-1a of "a"
    WriteFileBytes(folder / "a.cfg", "a");
    ASSERT_TRUE(FileDigest(folder / "a.cfg", digest, error)) << error;
    EXPECT_EQ(digest, "af63dc4c8601ec8c");
}

TEST(BatchMerge, ShardSummariesOfTheNewestSplit) {
    const std::string header = "recording,status,exit_code,scans,message\n";
    struct Case {
        std::vector<std::pair<std::string, std::string>> summaries;  // oldest first
        int exitCode;
        std::string merged;  // "" when nothing is written
        std::string said;    // in the report or the error
    };
    const Case cases[] = {
        {{{"vm-batch-summary-0-of-2.csv", header + "z,failed,2,0,old split\n"},
          {"vm-batch-summary-1-of-3.csv", header + "b,converted,1,3,\n\"a,\"\"x\"\"\",skipped,1,2,\"two\nlines\"\n"},
          {"vm-batch-summary-0-of-3.csv", header + "c,converted,1,1,\n"},
          {"vm-batch-summary-2-of-3.csv", header + "b,converted,1,4,newer\n"}},
         0, header + "\"a,\"\"x\"\"\",skipped,1,2,\"two\nlines\"\nb,converted,1,4,newer\nc,converted,1,1,\n",
         "left out, of another split: vm-batch-summary-0-of-2.csv"},
        {{{"vm-batch-summary-0-of-2.csv", header + "a,converted,1,1,\n"},
          {"vm-batch-summary-1-of-2.csv", header + "b,interrupted,,0,\n"}},
         1, header + "a,converted,1,1,\nb,interrupted,,0,\n", "not converted:\n  interrupted b\n"},
        {{{"vm-batch-summary-0-of-2.csv", header + "a,failed,2,0,\"Can't open a.05p, or x\"\n"},
          {"vm-batch-summary-1-of-2.csv", header + "b,converted,1,1,\n"}},
         1, header + "a,failed,2,0,\"Can't open a.05p, or x\"\nb,converted,1,1,\n",
         "not converted:\n  failed a: Can't open a.05p, or x\n"},
        {{{"vm-batch-summary-0-of-3.csv", header}, {"vm-batch-summary-2-of-3.csv", header}},
         1, "", "vm-batch-summary-1-of-3.csv missing"},
        {{{"vm-batch-summary-0-of-2.csv", header}, {"vm-batch-summary-1-of-2.csv", "recording,status\n"}},
         2, "", "has the header \"recording,status\""},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (const auto& [name, text] : c.summaries) {
            WriteFileBytes(folder / name, text);
            fs::last_write_time(folder / name, when += std::chrono::seconds(1));
        }
        WriteFileBytes(folder / ManifestFileName(1, 3), ManifestLine(Finished("b", "1")));
        const MergeResult result = MergeShardResults(folder.path());
        EXPECT_EQ(result.exitCode, c.exitCode) << c.said;
        EXPECT_NE((result.report + result.error).find(c.said), std::string::npos) << result.report << result.error;
        EXPECT_EQ(FileExists(folder / SummaryFileName(0, 1)), !c.merged.empty()) << c.said;
        if (c.merged.empty()) continue;
        EXPECT_EQ(ReadFileBytes(folder / SummaryFileName(0, 1)), c.merged);
        EXPECT_EQ(ReadFileBytes(folder / ManifestFileName(0, 1)), ManifestLine(Finished("b", "1")));
    }
}

TEST(BatchSummary, CsvRowsAndTable) {
    const std::vector<SummaryRow> rows = {
        {"a/sun.05h", RowStatus::Converted, 1, 7, "", {{"ar-short", "m"}, {"marker-unused", "m"}}},
        {"a/b,c.05h", RowStatus::Failed, 2, 0, "Can't open \"x\"", {}},
        {"a/sun.06h", RowStatus::Skipped, 1, 5, "header is 1000 bytes, not 1478; unchanged", {{"header-short", "m"}}},
        {"n/sun.05h", RowStatus::Failed, -1, 0, " line\nbreak ", {}},
        {"n/sun.06h", RowStatus::Interrupted, -1, 0, "stopped: the run was interrupted", {}},
    };
    EXPECT_EQ(SummaryCsv(rows),
              "recording,status,exit_code,scans,message,warnings\n"
              "a/sun.05h,converted,1,7,,ar-short;marker-unused\n"
              "\"a/b,c.05h\",failed,2,0,\"Can't open \"\"x\"\"\",\n"
              "a/sun.06h,skipped,1,5,\"header is 1000 bytes, not 1478; unchanged\",header-short\n"
              "n/sun.05h,failed,,0,\" line\nbreak \",\n"
              "n/sun.06h,interrupted,,0,stopped: the run was interrupted,\n");
    Totals totals = CountRows(rows);
    totals.seconds = 75.4;
    EXPECT_EQ(FinalTable(rows, totals, {"manifest: Can't write m"}),
              "recordings found           5\n"
              "converted                  1\n"
              "skipped                    1\n"
              "failed                     2\n"
              "interrupted                1\n"
              "with warnings              2\n"
              "scan files written         7\n"
              "time taken              1:15\n"
              "failed recordings:\n"
              "  a/b,c.05h: Can't open \"x\"\n"
              "  n/sun.05h:  line\nbreak \n"
              "manifest: Can't write m\n");
    EXPECT_EQ(Duration(0.04), "0.0 s");
    EXPECT_EQ(Duration(59.9), "59.9 s");
    EXPECT_EQ(Duration(3725), "1:02:05");
    EXPECT_EQ(ProgressLine(57, 200, 10.0, 46), " 57/200 [#####.............]  5.7/s  0:25 left");
    EXPECT_EQ(ProgressLine(0, 3, 0.0, 30), "0/3 [........]  -/s  -:-- left");
    EXPECT_EQ(ProgressLine(3, 3, 1.0, 12).size(), 12u);
}

TEST(BatchRunner, LastLineAndSignalText) {
    EXPECT_EQ(LastLine(""), "");
    EXPECT_EQ(LastLine("\n\r\n"), "");
    EXPECT_EQ(LastLine("Can't open a\nCan't open b\n"), "Can't open b");
    EXPECT_EQ(LastLine("one\r\n\r\n"), "one");
    EXPECT_EQ(LastLine("no line feed"), "no line feed");
    EXPECT_EQ(SignalText(9), "ended by signal 9 (Killed)");
}

// Writes `text` to `fd` whole (a test's child).
void WriteWhole(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

TEST(BatchRunner, ParallelJobsAndWhatTheyReport) {
    // Seven jobs, two at once: exits, output, a signal, a program that cannot
    // start; copies of this process with their data apart from their output,
    // more data than a pipe holds, and data cut short by a signal.
    const std::string much(300000, 'd');
    const std::vector<ChildJob> jobs = {
        {{"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, ""},
        {{"/bin/sh", "-c", "pwd"}, "/usr"},
        {{"/bin/sh", "-c", "kill -9 $$"}, ""},
        {{"/nonexistent/program"}, ""},
        {{}, "", [](int fd) { WriteWhole(fd, "data\n"), WriteWhole(STDOUT_FILENO, "out\n"); return 5; }},
        {{}, "", [&](int fd) { WriteWhole(fd, much), WriteWhole(STDOUT_FILENO, much + "\n"); return 0; }},
        {{}, "", [](int fd) { WriteWhole(fd, "{\"half"), raise(SIGKILL); return 0; }},
    };
    std::vector<ChildResult> results(jobs.size());
    std::vector<int> finished(jobs.size(), 0);
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t i) { return jobs[i]; };
    callbacks.finished = [&](std::size_t i, const ChildResult& r) {
        results[i] = r;
        ++finished[i];
    };
    EXPECT_EQ(RunJobs(jobs.size(), 2, {"PATH=/usr/bin:/bin"}, callbacks, nullptr, -1), jobs.size());
    EXPECT_EQ(finished, (std::vector<int>{1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(results[0].exitCode, 3);
    EXPECT_EQ(results[0].output, "out\nerr\n");
    EXPECT_EQ(results[1].output, "/usr\n");
    EXPECT_EQ(results[2].signal, 9);
    EXPECT_EQ(results[2].exitCode, -1);
    EXPECT_EQ(results[3].exitCode, 127);
    EXPECT_EQ(results[3].output, "Can't run /nonexistent/program: No such file or directory\n");
    EXPECT_EQ(results[0].data, "");
    EXPECT_EQ(results[4].exitCode, 5);
    EXPECT_EQ(results[4].output, "out\n");
    EXPECT_EQ(results[4].data, "data\n");
    // The data whole; the output its last 64 KiB.
    EXPECT_EQ(results[5].exitCode, 0);
    EXPECT_EQ(results[5].data, much);
    EXPECT_EQ(results[5].output, much.substr(much.size() - 64 * 1024 + 1) + "\n");
    EXPECT_EQ(results[6].signal, SIGKILL);
    EXPECT_EQ(results[6].data, "{\"half");
}

TEST(BatchRunner, StopEndsRunningJobsAndStartsNoMore) {
    volatile std::sig_atomic_t stop = 0;
    std::size_t done = 0;
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t) { return ChildJob{{"/bin/sleep", "30"}, ""}; };
    callbacks.finished = [&](std::size_t, const ChildResult& r) {
        EXPECT_EQ(r.signal, SIGTERM);
        ++done;
    };
    callbacks.tick = [&] { stop = 1; };
    EXPECT_EQ(RunJobs(5, 2, {}, callbacks, &stop, -1), 2u);
    EXPECT_EQ(done, 2u);

    stop = done = 0;  // the watch's stop lets the running ones end, even when the stop reaches them too
    callbacks.finishRunningOnStop = true;
    callbacks.prepare = [&](std::size_t) { return ChildJob{{"/bin/sh", "-c", "kill -TERM $$; sleep 0.2"}, ""}; };
    callbacks.finished = [&](std::size_t, const ChildResult& r) {
        EXPECT_EQ(r.exitCode, 0);
        ++done;
    };
    EXPECT_EQ(RunJobs(5, 2, {}, callbacks, &stop, -1), 2u);
    EXPECT_EQ(done, 2u);
}

TEST(BatchVerdict, WhatCountsAsConverted) {
    struct Case {
        int exitCode, signal;
        std::string output;
        const char* startError;
        bool collected;
        bool converted;
        const char* reason;
        std::vector<ConverterWarning> warnings;
        // A conversion in a child of vm-batch: its report (else a --vm-fits
        // program, whose output says it all), and the status it leaves.
        const char* report = nullptr;
        const char* status = nullptr;
    };
    const std::string ar = "vm-fits: warning: ar-short: ar2 holds 1000 samples, al2 2000: LL samples 1000 to 1999\n";
    const std::string header = "vm-fits: warning: header-short: sun.05h holds 600 bytes, not 1478\r\n";
    const ConverterWarning arShort{"ar-short", "ar2 holds 1000 samples, al2 2000: LL samples 1000 to 1999"};
    const ConverterWarning headerShort{"header-short", "sun.05h holds 600 bytes, not 1478"};
    // Texts that printed lines could not carry: line feeds, quotes, backslashes, bytes that are not UTF-8.
    const std::string awkward = "a\nvm-fits: warning: header-long: \"x\\y\"\r\n\xff\xfe \xc3\xa9";
    const std::string cantOpen = "Can't open " + awkward;
    const std::string arReport = ReportWarningLine(RunWarning{WarningId::ArShort, 2, arShort.message});
    const std::string awkwardReport =
        ReportWarningLine(RunWarning{WarningId::MarkerPastEnd, kWholeRecording, awkward}) +
        ReportStatusLine(cantOpen);
    const std::string end1 = ReportEndLine(1, {"/out/x.0hd", "/out/x.001"}), end2 = ReportEndLine(2, {});
    const std::string reports[] = {
        arReport + end1,
        awkwardReport + end2,
        arReport + end1.substr(0, end1.size() / 2),          // killed while writing its end
        arReport + ReportStatusLine("Can't open a"),         // ended without its end line
        arReport + "vm-fits: warning: header-short: x\n" + end1,  // a line that is no record
        end1 + arReport,                                      // more after its end
        "",
    };
    const Case cases[] = {
        {1, 0, "", "", true, true, "", {}},
        // Warnings never fail a conversion; the status is the last other line.
        {1, 0, ar + header, "", true, true, "", {arShort, headerShort}},
        {2, 0, header + "Can't open a\n" + ar, "", true, false, "Can't open a", {headerShort, arShort}},
        {2, 0, "vm-fits: warning: no id\nvm-fits: warning: : x\n", "", true, false, "vm-fits: warning: : x", {}},
        {1, 0, "", "", false, false, "vm-fits wrote no scan index x.0hd", {}},  // success without its files
        {2, 0, "Can't open a\nCan't open b\n", "", true, false, "Can't open b", {}},
        {2, 0, "", "", false, false, "vm-fits exited with 2", {}},
        {0, 0, "", "", false, false, "vm-fits exited with 0", {}},
        {127, 0, "Can't run /x/vm-fits: Permission denied\n", "", false, false,
         "vm-fits exited with 127: Can't run /x/vm-fits: Permission denied", {}},
        {-1, 11, "half a line", "", false, false, "vm-fits ended by signal 11 (Segmentation fault)", {}},
        {-1, 0, "", "Can't start /x/vm-fits: Resource temporarily unavailable", false, false,
         "Can't start /x/vm-fits: Resource temporarily unavailable", {}},
        // A child's report: what it prints is not read as what it said.
        {1, 0, ar + "Can't open x\n", "", true, true, "", {arShort}, reports[0].c_str(), ""},
        {2, 0, "", "", false, false, cantOpen.c_str(), {{"marker-past-end", awkward}}, reports[1].c_str(),
         cantOpen.c_str()},
        {-1, 9, "", "", false, false, "vm-fits ended by signal 9 (Killed)", {arShort}, reports[2].c_str(), ""},
        {-1, 6, "terminate called without an active exception\n", "", false, false,
         "vm-fits ended by signal 6 (Aborted)", {arShort}, reports[3].c_str(),
         "terminate called without an active exception"},
        {1, 0, "", "", true, false, "the conversion ended without its report", {arShort}, reports[3].c_str(),
         "Can't open a"},
        {1, 0, "", "", true, false, "the conversion's report holds a line that is not one of its records",
         {arShort}, reports[4].c_str(), ""},
        {1, 0, "", "", true, false, "the conversion's report goes on after its end", {}, reports[5].c_str(), ""},
        {-1, 9, "", "", false, false, "vm-fits ended by signal 9 (Killed)", {}, reports[6].c_str(), ""},
    };
    for (const Case& c : cases) {
        ChildResult result;
        result.exitCode = c.exitCode;
        result.signal = c.signal;
        result.output = c.output;
        result.startError = c.startError;
        if (c.report) result.data = c.report;
        const ConverterOutput said =
            c.report ? ReadChildReport(result.data, result.output).said : SplitConverterOutput(result.output);
        const ConversionVerdict v = JudgeConversion(result, said, c.collected, "vm-fits wrote no scan index x.0hd");
        EXPECT_EQ(v.converted, c.converted) << c.reason;
        EXPECT_EQ(v.reason, c.reason);
        EXPECT_EQ(v.warnings, c.warnings) << c.reason;
        if (c.status) {
            EXPECT_EQ(v.status, c.status) << c.reason;
        }
    }
    // The end line's exit code and files, as the child gave them.
    const ChildReport whole = ReadChildReport(reports[0], "");
    EXPECT_TRUE(whole.ended);
    EXPECT_EQ(whole.exitCode, 1);
    EXPECT_EQ(whole.files, (std::vector<std::string>{"/out/x.0hd", "/out/x.001"}));
}

}  // namespace

// vm-batch end to end over an archive made with vm-simobs: nested folders,
// several dates and scan numbers, two recordings in one folder, and defects
// (a header without its marker file, a truncated header, a short ar file, an
// output folder that cannot be created, two recordings that would write the
// same files).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <future>
#include <map>
#include <set>
#include <sstream>

#include "batch/manifest.h"
#include "catalog/catalog.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kBatch = VMFITS_TOOLS_DIR "/vm-batch";
const std::string kSimulator = VMFITS_TOOLS_DIR "/vm-simobs";

// A recording of the archive: where it lies and how vm-simobs makes it.
struct Made {
    std::string header;  // relative to the archive
    std::vector<std::string> options;
};

// The recordings that convert. Two share the folder 2003/11 (and its sample files).
const std::vector<Made> kGood = {
    {"1999/sun.03h", {"--seed", "5", "--date", "1999-05-31", "--scan", "3", "--no-jumps", "--channels", "4"}},
    {"2003/11/sun.05h", {"--seed", "1", "--channels", "6"}},
    {"2003/11/sun.06h", {"--seed", "2", "--channels", "6", "--scan", "6"}},
    {"2003/12/sun.07h", {"--seed", "3", "--date", "2003-12-01", "--scan", "7", "--channels", "8"}},
    {"2004/01/02/moon.12h",
     {"--seed", "4", "--defects", "--date", "2004-01-02", "--scan", "12", "--name", "moon", "--channels", "10"}},
    {"defects/clash/moon.05h", {"--seed", "7", "--name", "moon", "--channels", "3"}},
    {"defects/truncated/sun.05h", {"--seed", "8", "--channels", "5"}},
    {"top.09h", {"--seed", "6", "--scan", "9", "--name", "top", "--channels", "3"}},
    // A dot in a folder name: the scan number is still the header's own.
    {"vol.2/obs/sun.07h", {"--seed", "12", "--scan", "7", "--channels", "3"}},
};
// The recordings that fail.
const std::vector<Made> kBad = {
    {"defects/blocked/sun.05h", {"--seed", "9", "--channels", "3"}},
    {"defects/clash/sun.05h", {"--seed", "10", "--channels", "3"}},
    {"defects/nomarker/sun.05h", {"--seed", "11", "--channels", "3"}},
};

std::string FolderOf(const std::string& path) { return fs::path(path).parent_path().string(); }
std::string NameOf(const std::string& path) { return fs::path(path).filename().string(); }

// Every file under `folder` by relative path, with its bytes; vm-batch's own
// manifest and summary files are left out.
std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || NameOf(entry.path()).rfind("vm-batch-", 0) == 0) continue;
        tree[fs::relative(entry.path(), folder).string()] = ReadFileBytes(entry.path().string());
    }
    return tree;
}

struct Streaming {
    pid_t pid = -1;
    int err = -1;
};

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        archive_ = root_ / "archive";
        out_ = root_ / "out";
        bin_ = root_ / "bin";
        fs::create_directories(root_ / "tmp");
        for (const Made& m : kGood) Make(m);
        for (const Made& m : kBad) Make(m);
        fs::remove(archive_ + "/defects/nomarker/sun.05p");
        fs::resize_file(archive_ + "/defects/truncated/sun.05h", 1000);
        // The output folder of defects/blocked cannot be created: a file is in its place.
        fs::create_directories(out_ + "/defects");
        WriteFileBytes(out_ + "/defects/blocked", "in the way");

        ASSERT_EQ(RunProcess({kSimulator, "--out", root_ / "tablegen", "--cfg", "--channels", "1"}).exitCode, 0);
        table_ = root_ / "table.cfg";
        fs::copy_file(root_ / "tablegen/vm-fits.cfg", table_);
        fs::create_directories(bin_);
        fs::copy_file(VMFITS_BINARY, bin_ + "/vm-fits");
        fs::copy_file(table_, bin_ + "/vm-fits.cfg");
    }

    void Make(const Made& m) {
        std::vector<std::string> argv{kSimulator, "--out", archive_ + "/" + FolderOf(m.header)};
        argv.insert(argv.end(), m.options.begin(), m.options.end());
        const ProcessResult r = RunProcess(argv);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        ASSERT_TRUE(FileExists(archive_ + "/" + m.header)) << m.header;
    }

    ProcessOptions Isolated() const {
        ProcessOptions options;
        options.setEnv["XDG_CONFIG_HOME"] = root_ / "config";
        options.setEnv["HOME"] = root_.path();
        options.setEnv["TMPDIR"] = root_ / "tmp";
        options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
        return options;
    }

    // A direct vm-fits run of one recording into a folder of its own: the
    // files and the number of scan files.
    std::map<std::string, std::string> Direct(const std::string& header, bool back, int& scans) {
        static int count = 0;
        const std::string folder = root_ / ("direct" + std::to_string(++count));
        std::vector<std::string> argv{bin_ + "/vm-fits", archive_ + "/" + header, folder};
        if (back) argv.push_back("back");
        ProcessOptions options = Isolated();
        options.setEnv["XDG_CONFIG_HOME"] = root_ / "direct-config";
        const ProcessResult r = RunProcess(argv, options);
        EXPECT_EQ(r.exitCode, 1) << header << ": " << r.err;
        std::map<std::string, std::string> files = Tree(folder);
        scans = static_cast<int>(files.size()) - 1;
        fs::remove_all(folder);
        return files;
    }

    // What OUTPUT must hold after converting every good recording.
    std::map<std::string, std::string> Expected(bool back = false) {
        std::map<std::string, std::string> tree{{"defects/blocked", "in the way"}};
        for (const Made& m : kGood) {
            int scans = 0;
            for (const auto& [name, bytes] : Direct(m.header, back, scans))
                tree[FolderOf(m.header).empty() ? name : FolderOf(m.header) + "/" + name] = bytes;
            scans_[m.header] = scans;
        }
        return tree;
    }

    ProcessResult Batch(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), kBatch);
        return RunProcess(arguments, Isolated());
    }
    ProcessResult BatchAll(const std::vector<std::string>& more = {}) {
        std::vector<std::string> arguments{archive_, out_, "-j", "2", "--cfg", table_};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return Batch(arguments);
    }

    // Status of each recording in a summary file.
    std::map<std::string, std::string> Statuses(const std::string& summary) const {
        std::map<std::string, std::string> statuses;
        std::istringstream in(ReadFileBytes(summary));
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "recording,status,exit_code,scans,message,warnings");
        while (std::getline(in, line)) {
            const std::size_t comma = line.find(',');
            EXPECT_EQ(statuses.count(line.substr(0, comma)), 0u) << line;
            statuses[line.substr(0, comma)] = line.substr(comma + 1, line.find(',', comma + 1) - comma - 1);
        }
        return statuses;
    }
    std::map<std::string, std::string> Statuses() const { return Statuses(out_ + "/vm-batch-summary.csv"); }

    std::string BlockedMessage() const {
        return "Can't open " + fs::canonical(out_).string() + "/defects/blocked/s05b03_05z.0hd: Not a directory";
    }

    // A conversion that takes a while: a script beside vm-fits and its table
    // that waits before it runs vm-fits, so that a run can be caught halfway.
    std::string SlowConverter() const {
        const std::string script = bin_ + "/slow-vm-fits";
        WriteFileBytes(script, "#!/bin/sh\nsleep 0.1\nexec " + bin_ + "/vm-fits \"$@\"\n");
        fs::permissions(script, fs::perms::owner_all);
        return script;
    }

    Streaming Start(const std::vector<std::string>& arguments) const {
        int pipeFds[2];
        EXPECT_EQ(pipe(pipeFds), 0);
        std::vector<std::string> argText{kBatch};
        argText.insert(argText.end(), arguments.begin(), arguments.end());
        const ProcessOptions options = Isolated();
        const pid_t pid = fork();
        if (pid == 0) {
            for (const auto& [name, value] : options.setEnv) setenv(name.c_str(), value.c_str(), 1);
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, STDIN_FILENO);
            dup2(devNull, STDOUT_FILENO);
            dup2(pipeFds[1], STDERR_FILENO);
            close(pipeFds[0]);
            std::vector<char*> argv;
            for (auto& a : argText) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        return {pid, pipeFds[0]};
    }

    // Reads standard error until `lines` lines contain `what` (or it ends).
    static std::string ReadUntil(const Streaming& run, const std::string& what, int lines) {
        std::string text;
        auto seen = [&] {
            int n = 0;
            for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
            return n;
        };
        while (seen() < lines) {
            pollfd fd{run.err, POLLIN, 0};
            if (poll(&fd, 1, 30000) <= 0) break;
            char buffer[4096];
            const ssize_t n = read(run.err, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    static int Wait(const Streaming& run) {
        close(run.err);
        int status = 0;
        waitpid(run.pid, &status, 0);
        return status;
    }

    TempFolder root_;
    std::string archive_, out_, bin_, table_;
    std::map<std::string, int> scans_;
};

TEST_F(BatchRun, FirstRunConvertsLikeVmFitsAndSummarises) {
    const auto expected = Expected();
    const ProcessResult r = BatchAll();
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Tree(out_), expected);

    const std::string summary = ReadFileBytes(out_ + "/vm-batch-summary.csv");
    auto row = [&](const std::string& header, const std::string& rest) { return header + "," + rest + "\n"; };
    auto converted = [&](const std::string& header, const std::string& rest = ",") {
        return row(header, "converted,1," + std::to_string(scans_[header]) + "," + rest);
    };
    EXPECT_EQ(summary, "recording,status,exit_code,scans,message,warnings\n" +
                           converted("1999/sun.03h", ",year-before-2000") +
                           converted("2003/11/sun.05h") + converted("2003/11/sun.06h") +
                           converted("2003/12/sun.07h") + converted("2004/01/02/moon.12h", ",ar-short;ar-missing") +
                           row("defects/blocked/sun.05h", "failed,2,0," + BlockedMessage() + ",") +
                           converted("defects/clash/moon.05h") +
                           row("defects/clash/sun.05h",
                               "failed,,0,writes the same files as defects/clash/moon.05h "
                               "(s05b03_05z.0hd and its scan files),") +
                           row("defects/nomarker/sun.05h", "failed,,0,marker file sun.05p is missing,") +
                           converted("defects/truncated/sun.05h",
                                     "\"header is 1000 bytes, not 1478\",header-short;pointing-degenerate") +
                           converted("top.09h") + converted("vol.2/obs/sun.07h"));
    std::map<std::string, ManifestEntry> latest;
    std::string error;
    ASSERT_TRUE(ReadManifests(out_, latest, error)) << error;
    EXPECT_EQ(latest["2004/01/02/moon.12h"].warnings,
              (std::vector<ConverterWarning>{{"ar-short", "ar2 holds 1000 samples, al2 2000: LL samples 1000 to "
                                                          "1999 keep the repaired al values"},
                                             {"ar-missing", "ar4 cannot be opened: channel 4 gets no scan file"}}));

    int scans = 0;
    for (const Made& m : kGood) scans += scans_[m.header];
    char scanLine[64];
    std::snprintf(scanLine, sizeof scanLine, "scan files written%10d\n", scans);
    EXPECT_NE(r.out.find("recordings found          12\nconverted                  9\nskipped                    0\n"
                         "failed                     3\ninterrupted                0\nwith warnings              3\n" +
                         std::string(scanLine)),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("failed recordings:\n  defects/blocked/sun.05h: " + BlockedMessage() +
                         "\n  defects/clash/sun.05h: writes the same files as defects/clash/moon.05h "
                         "(s05b03_05z.0hd and its scan files)\n  defects/nomarker/sun.05h: marker file "
                         "sun.05p is missing\n"),
              std::string::npos)
        << r.out;
    // Without a terminal, one line per conversion run.
    EXPECT_NE(r.err.find("[1/10] "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[10/10] "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" converted 2003/12/sun.07h (" + std::to_string(scans_["2003/12/sun.07h"]) + " scan files)\n"),
              std::string::npos);
    EXPECT_NE(r.err.find(" converted 2004/01/02/moon.12h (7 scan files, 2 warnings: ar-short, ar-missing)\n"), std::string::npos)
        << r.err;
    // The user's remembered folders are not touched, and nothing is left behind.
    EXPECT_FALSE(FileExists(root_ / "config/vm-fits"));
    EXPECT_TRUE(fs::is_empty(root_ / "tmp"));
}

TEST_F(BatchRun, RerunSkipsAndAChangedInputReconvertsOnlyItsRecordings) {
    Expected();
    ASSERT_EQ(BatchAll().exitCode, 1);
    const auto before = Tree(out_);
    ProcessResult r = BatchAll();
    EXPECT_EQ(r.exitCode, 1);  // the defects still fail
    EXPECT_EQ(Tree(out_), before);
    std::map<std::string, std::string> statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses[m.header], "skipped") << m.header;
    EXPECT_NE(r.out.find("converted                  0\nskipped                    9\n"), std::string::npos);
    EXPECT_NE(ReadFileBytes(out_ + "/vm-batch-summary.csv")
                  .find("\n2003/12/sun.07h,skipped,1," + std::to_string(scans_["2003/12/sun.07h"]) +
                        ",unchanged,\n2004/01/02/moon.12h,skipped,1,7,unchanged,ar-short;ar-missing\n"),
              std::string::npos);

    // A sample file of 2003/12 changes (same size, other bytes): only that recording again.
    const std::string al2 = archive_ + "/2003/12/al2";
    std::string bytes = ReadFileBytes(al2);
    for (std::size_t i = 0; i < bytes.size(); i += 4) bytes[i] = static_cast<char>(bytes[i] ^ 0x55);
    WriteFileBytes(al2, bytes);
    r = BatchAll();
    statuses = Statuses();
    for (const Made& m : kGood)
        EXPECT_EQ(statuses[m.header], m.header == "2003/12/sun.07h" ? "converted" : "skipped") << m.header;
    EXPECT_EQ(Tree(out_), Expected());

    // A lost output file and a changed shared sample file bring back exactly their recordings.
    fs::remove(out_ + "/2003/11/s05b03_06z.002");
    r = BatchAll();
    statuses = Statuses();
    for (const Made& m : kGood)
        EXPECT_EQ(statuses[m.header], m.header == "2003/11/sun.06h" ? "converted" : "skipped") << m.header;
    EXPECT_EQ(Tree(out_), Expected());
    fs::last_write_time(archive_ + "/2003/11/ar0", fs::file_time_type::clock::now() + std::chrono::hours(1));
    r = BatchAll();
    statuses = Statuses();
    for (const Made& m : kGood)
        EXPECT_EQ(statuses[m.header], FolderOf(m.header) == "2003/11" ? "converted" : "skipped") << m.header;

    // The same table elsewhere, written later, converts nothing again; another table everything.
    const std::string copy = root_ / "copy.cfg";
    fs::copy_file(table_, copy);
    r = Batch({archive_, out_, "--cfg", copy});
    statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses[m.header], "skipped") << m.header;
    WriteFileBytes(table_, ReadFileBytes(table_) + "\n");
    r = BatchAll();
    statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses[m.header], "converted") << m.header;
}

TEST_F(BatchRun, KilledRunResumesToTheSameOutput) {
    const auto expected = Expected();
    const std::vector<std::string> arguments{archive_, out_, "-j", "2", "--vm-fits", SlowConverter()};
    const Streaming run = Start(arguments);
    const std::string err = ReadUntil(run, "] converted ", 3);
    kill(run.pid, SIGKILL);
    const int status = Wait(run);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "finished before it was killed:\n" << err;

    // Every recording reported done is in the manifest; every complete line reads.
    const std::string manifest = ReadFileBytes(out_ + "/vm-batch-manifest.jsonl");
    std::set<std::string> recorded;
    std::istringstream lines(manifest.substr(0, manifest.rfind('\n') + 1));
    for (std::string line; std::getline(lines, line);) {
        ManifestEntry entry;
        ASSERT_TRUE(ParseManifestLine(line, entry)) << line;
        if (entry.exitCode == 1) recorded.insert(entry.recording);
    }
    std::istringstream reported(err);
    std::size_t reportedCount = 0;
    for (std::string line; std::getline(reported, line);) {
        const std::size_t at = line.find("] converted ");
        if (at == std::string::npos) continue;
        const std::string header = line.substr(at + 12, line.find(" (", at) - at - 12);
        EXPECT_EQ(recorded.count(header), 1u) << header;
        ++reportedCount;
    }
    EXPECT_GE(reportedCount, 3u);
    EXPECT_LT(recorded.size(), kGood.size());

    const ProcessResult r = Batch(arguments);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Tree(out_), expected);
    const std::map<std::string, std::string> statuses = Statuses();
    for (const Made& m : kGood)
        EXPECT_EQ(statuses.at(m.header), recorded.count(m.header) ? "skipped" : "converted") << m.header;
}

TEST_F(BatchRun, InterruptedRunSummarisesAndResumes) {
    const auto expected = Expected();
    const std::vector<std::string> arguments{archive_, out_, "-j", "1", "--vm-fits", SlowConverter()};
    const Streaming run = Start(arguments);
    ReadUntil(run, "] converted ", 1);
    kill(run.pid, SIGTERM);
    const int status = Wait(run);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    const std::string summary = ReadFileBytes(out_ + "/vm-batch-summary.csv");
    EXPECT_NE(summary.find(",converted,1,"), std::string::npos) << summary;
    EXPECT_NE(summary.find(",interrupted,,0,not converted: the run was interrupted,\n"), std::string::npos) << summary;
    EXPECT_EQ(summary.find(",failed,,0,not converted"), std::string::npos) << summary;
    const std::map<std::string, std::string> before = Statuses();

    EXPECT_EQ(Batch(arguments).exitCode, 1);
    EXPECT_EQ(Tree(out_), expected);
    for (const auto& [header, status] : Statuses()) {
        if (before.at(header) != "interrupted") continue;
        EXPECT_EQ(status, header == "defects/blocked/sun.05h" ? "failed" : "converted") << header;  // tried again
    }
}

TEST_F(BatchRun, ShardsTogetherCoverEveryRecordingOnce) {
    const auto expected = Expected();
    std::vector<std::future<ProcessResult>> shards;
    for (int k = 0; k < 3; ++k)
        shards.push_back(std::async(std::launch::async, [this, k] {
            return BatchAll({"--shard", std::to_string(k) + "/3"});
        }));
    std::map<std::string, int> seen;
    for (int k = 0; k < 3; ++k) {
        const ProcessResult r = shards[k].get();
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.err;
        EXPECT_TRUE(FileExists(out_ + "/vm-batch-manifest-" + std::to_string(k) + "-of-3.jsonl"));
        for (const auto& [header, status] : Statuses(out_ + "/vm-batch-summary-" + std::to_string(k) + "-of-3.csv"))
            ++seen[header];
    }
    EXPECT_EQ(seen.size(), kGood.size() + kBad.size());
    for (const auto& [header, count] : seen) EXPECT_EQ(count, 1) << header;
    EXPECT_EQ(Tree(out_), expected);

    // A whole run afterwards reads the shards' manifests.
    EXPECT_EQ(BatchAll().exitCode, 1);
    const std::map<std::string, std::string> statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses.at(m.header), "skipped") << m.header;
}

TEST_F(BatchRun, TornManifestLineIsRedone) {
    ASSERT_EQ(BatchAll().exitCode, 1);
    const std::string path = out_ + "/vm-batch-manifest.jsonl";
    std::string manifest = ReadFileBytes(path);
    const std::size_t lastStart = manifest.rfind('\n', manifest.size() - 2) + 1;
    ManifestEntry last;
    ASSERT_TRUE(ParseManifestLine(manifest.substr(lastStart, manifest.size() - lastStart - 1), last));
    WriteFileBytes(path, manifest.substr(0, lastStart + (manifest.size() - lastStart) / 2));

    BatchAll();
    std::map<std::string, std::string> statuses = Statuses();
    for (const Made& m : kGood)
        EXPECT_EQ(statuses[m.header], m.header == last.recording ? "converted" : "skipped") << m.header;
    manifest = ReadFileBytes(path);
    ASSERT_EQ(manifest.back(), '\n');
    std::istringstream lines(manifest);
    int unreadable = 0;
    for (std::string line; std::getline(lines, line);) {
        ManifestEntry entry;
        unreadable += ParseManifestLine(line, entry) ? 0 : 1;
    }
    EXPECT_EQ(unreadable, 1);  // the torn half, on a line of its own
    BatchAll();
    statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses[m.header], "skipped") << m.header;
}

TEST_F(BatchRun, DefaultTableBesideVmFitsAndBackExtrapolation) {
    ProcessResult r = Batch({archive_, out_, "--vm-fits", bin_ + "/vm-fits"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Tree(out_), Expected());

    r = Batch({archive_, out_, "--vm-fits", bin_ + "/vm-fits", "--back"});
    std::map<std::string, std::string> statuses = Statuses();
    for (const Made& m : kGood) EXPECT_EQ(statuses[m.header], "converted") << m.header;
    EXPECT_EQ(Tree(out_), Expected(true));
}

TEST_F(BatchRun, DryRunListsAndChangesNothing) {
    fs::remove_all(out_);
    ProcessResult r = BatchAll({"--dry-run"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(FileExists(out_));
    EXPECT_EQ(r.out,
              "convert  1999/sun.03h (new)\n"
              "convert  2003/11/sun.05h (new)\n"
              "convert  2003/11/sun.06h (new)\n"
              "convert  2003/12/sun.07h (new)\n"
              "convert  2004/01/02/moon.12h (new)\n"
              "convert  defects/blocked/sun.05h (new)\n"
              "convert  defects/clash/moon.05h (new)\n"
              "fail     defects/clash/sun.05h (writes the same files as defects/clash/moon.05h "
              "(s05b03_05z.0hd and its scan files))\n"
              "fail     defects/nomarker/sun.05h (marker file sun.05p is missing)\n"
              "convert  defects/truncated/sun.05h (header is 1000 bytes, not 1478; new)\n"
              "convert  top.09h (new)\n"
              "convert  vol.2/obs/sun.07h (new)\n"
              "12 recordings: 10 to convert, 0 to skip, 2 that would fail\n");

    ASSERT_EQ(BatchAll().exitCode, 1);
    fs::remove(out_ + "/2003/12/s01c03_07z.001");
    r = BatchAll({"--dry-run", "--shard", "0/3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "skip     1999/sun.03h (unchanged)\n"
              "convert  2003/12/sun.07h (2003/12/s01c03_07z.001 is missing)\n"
              "skip     defects/clash/moon.05h (unchanged)\n"
              "skip     defects/truncated/sun.05h (header is 1000 bytes, not 1478; unchanged)\n"
              "4 recordings: 1 to convert, 3 to skip, 0 that would fail\n");
    EXPECT_FALSE(FileExists(out_ + "/2003/12/s01c03_07z.001"));
}

TEST_F(BatchRun, ScanNumberComesFromTheHeaderName) {
    // A dot in a folder name: the recording is converted from its own folder
    // with the header's bare name, so the scan number is the name's.
    const std::string dotted = root_ / "dotted";
    ASSERT_EQ(RunProcess({kSimulator, "--out", dotted + "/obs.2", "--scan", "5", "--channels", "3"}).exitCode, 0);
    ProcessResult r = Batch({dotted, out_, "--cfg", table_});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ProcessOptions inFolder = Isolated();
    inFolder.workingFolder = dotted + "/obs.2";
    r = RunProcess({bin_ + "/vm-fits", "sun.05h", root_ / "direct"}, inFolder);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    const auto direct = Tree(root_ / "direct");
    ASSERT_EQ(direct.count("s05b03_05z.0hd"), 1u);
    std::map<std::string, std::string> converted;
    for (const auto& [name, bytes] : direct) converted["obs.2/" + name] = bytes;
    converted["defects/blocked"] = "in the way";
    EXPECT_EQ(Tree(out_), converted);
}

TEST_F(BatchRun, UsageErrorsExitWithTwo) {
    fs::create_directories(root_ / "no-table");
    fs::copy_file(VMFITS_BINARY, root_ / "no-table/vm-fits");
    const std::string none = root_ / "none";
    const std::string empty = root_ / "empty.cfg";
    WriteFileBytes(empty, "no numbers here\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{}, "ARCHIVE is required\n(see vm-batch --help)"},
        {{archive_}, "OUTPUT is required\n(see vm-batch --help)"},
        {{archive_, none, "x"}, "The following argument was not expected: x\n(see vm-batch --help)"},
        {{archive_, none, "-j", "0"}, "--jobs: Value 0 not in range 1 to 1024\n(see vm-batch --help)"},
        {{archive_, none, "--shard", "3/3"}, "--shard wants K/N with 0 <= K < N, not \"3/3\"\n(see vm-batch --help)"},
        {{none, none, "--cfg", table_}, "Can't read " + none + ": No such file or directory"},
        {{table_, none, "--cfg", table_}, "Can't read " + table_ + ": not a folder"},
        {{archive_, archive_, "--cfg", table_}, "the output folder " + archive_ + " is the archive itself"},
        {{archive_, none, "--vm-fits", none}, "Can't run " + none + ": No such file or directory"},
        {{archive_, none, "--vm-fits", root_ / "no-table/vm-fits"},
         "no calibration table: neither " + (root_ / "no-table/vm-fits.cfg") + " nor " + (root_ / "vm-fits.cfg") +
             " is there (where " + (root_ / "no-table/vm-fits") + " looks for it)"},
        {{archive_, none, "--vm-fits", root_ / "no-table/vm-fits", "--cfg", table_},
         "--cfg does not go with --vm-fits: that program finds its own vm-fits.cfg"},
        {{archive_, none, "--cfg", none}, "Can't read the calibration table " + none},
        {{archive_, none, "--cfg", empty},
         "the calibration table " + empty + " holds no row of numbers: no recording would get a scan file"},
        {{archive_, "--merge-summaries", none}, "--merge-summaries OUTPUT takes nothing else\n(see vm-batch --help)"},
        {{"--merge-summaries", none}, "Can't read " + none + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = Batch(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_EQ(r.err, "vm-batch: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(FileExists(none));
    }
    const ProcessResult help = Batch({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("vm-fits.cfg is looked for beside vm-batch, then in the folder above it."), std::string::npos);
}

}  // namespace

namespace {

std::string DumpOf(const std::string& path) {
    Catalog catalog;
    std::string error, dump;
    EXPECT_TRUE(OpenCatalog(path, catalog, error)) << error;
    EXPECT_TRUE(CatalogDump(catalog, dump, error)) << error;
    return dump;
}

}  // namespace

TEST_F(BatchRun, CatalogOfARunStaysOnRerunAndIsRebuiltTheSame) {
    Expected();
    const std::string catalog = root_ / "catalog.sqlite";
    ASSERT_EQ(BatchAll({"--catalog", catalog}).exitCode, 1);
    const std::string dump = DumpOf(catalog);
    for (const Made& m : kGood) EXPECT_NE(dump.find("recording " + m.header + "\n"), std::string::npos) << m.header;
    EXPECT_NE(dump.find("recording defects/nomarker/sun.05h\n"), std::string::npos);
    EXPECT_NE(dump.find("  status failed\n  reason marker file sun.05p is missing\n"), std::string::npos);
    EXPECT_NE(dump.find("whole_sun "), std::string::npos);

    // A rerun skips everything and leaves the same entries.
    const ProcessResult rerun = BatchAll({"--catalog", catalog});
    EXPECT_EQ(rerun.exitCode, 1) << rerun.err;
    EXPECT_EQ(DumpOf(catalog), dump);

    // Made anew from the outputs, nothing converted.
    const std::string rebuilt = root_ / "rebuilt.sqlite";
    const ProcessResult rebuild = Batch({"--rebuild-catalog", rebuilt, archive_, out_});
    EXPECT_EQ(rebuild.exitCode, 0) << rebuild.err;
    EXPECT_EQ(DumpOf(rebuilt), dump);
}

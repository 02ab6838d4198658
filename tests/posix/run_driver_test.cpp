// The run driver on Linux: arguments, remembered folders, output folder, exit codes.
#include "app/run_driver.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/run_context.h"
#include "app/version.h"
#include "convert/repair.h"
#include "platform/posix/platform_posix.h"
#include "support/posix_process.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kKey = "SOFTWARE\\Trevalo";

// A recording with no enabled channel: the run writes only the scan index.
void WriteEmptyRecording(const std::string& folder, const std::string& name = "sun.05h") {
    fs::create_directories(folder);
    WriteFileBytes(folder + "/" + name, std::vector<uint8_t>(kObservationHeaderSize, 0));
    std::string marker = name;
    marker.back() = 'p';
    WriteFileBytes(folder + "/" + marker, std::string());
}

std::string StoredValue(const std::string& configHome, const std::string& name) {
    const std::string path = configHome + "/vm-fits/registry/HKEY_CURRENT_USER/SOFTWARE/Trevalo/" + name;
    return FileExists(path) ? ReadFileBytes(path) : std::string("<missing>");
}

ProcessOptions Isolated(const TempFolder& home) {
    ProcessOptions options;
    options.setEnv["XDG_CONFIG_HOME"] = home / "config";
    options.setEnv["HOME"] = home.path();
    options.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY"};
    return options;
}

// In-process runs, each with a run record of its own.
class InProcessRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadConfig_ = old != nullptr;
        if (old) oldConfig_ = old;
        setenv("XDG_CONFIG_HOME", (home_ / "config").c_str(), 1);
    }
    void TearDown() override {
        if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        PosixSetArguments(0, nullptr);
    }
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), "vm-fits");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        PosixSetArguments(static_cast<int>(argv.size()), argv.data());
        run_ = RunContext{};
        return RunConverter(nullptr, run_);
    }
    RunContext run_;
    TempFolder home_;
    bool hadConfig_ = false;
    std::string oldConfig_;
};

TEST_F(InProcessRun, RepairModeAndArgumentTableFollowTheArgumentCount) {
    WriteEmptyRecording(home_ / "obs");
    const std::string header = home_ / "obs/sun.05h";
    const std::string out = home_ / "out";
    struct Case {
        std::vector<std::string> args;
        bool twoSided;
    };
    const Case cases[] = {
        {{header, out}, true},
        {{header, out, "0"}, false},
        {{header, out, "2"}, false},
        {{header, out, "anything"}, false},
        {{header, out, "x", "y"}, false},
        {{header, out, "x", "y", "z"}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), kExitConverted);
        const std::size_t n = c.args.size();
        EXPECT_EQ(run_.argumentCount, static_cast<int32_t>(n));
        if (c.twoSided) {
            EXPECT_EQ(run_.repairMode, kTwoSidedExtrapolation) << n;
        } else {
            EXPECT_NE(run_.repairMode, 0) << n;
            EXPECT_NE(run_.repairMode, kTwoSidedExtrapolation) << n;
        }
        EXPECT_FALSE(run_.arguments[0].empty());  // the executable's path
        for (std::size_t i = 1; i <= 4; ++i)
            EXPECT_EQ(run_.arguments[i], i <= n ? c.args[i - 1] : std::string()) << n << ' ' << i;
        EXPECT_EQ(run_.calibrationFlag, 0);
        EXPECT_EQ(run_.inputFolder, home_ / "obs");
        EXPECT_EQ(run_.outputFolder, out);
    }
}

TEST_F(InProcessRun, RemembersFoldersAndKeepsLongTextsWhole) {
    const std::string deep = home_ / (std::string(140, 'o') + "/" + std::string(140, 'b'));
    WriteEmptyRecording(deep);
    const std::string out = home_ / std::string(200, 'x');
    EXPECT_EQ(Run({deep + "/sun.05h", out + "/"}), kExitConverted);
    EXPECT_TRUE(fs::is_directory(out));
    std::string value;
    ASSERT_TRUE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertOpen", value, "/tmp"));
    EXPECT_EQ(value, deep);
    ASSERT_TRUE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertSave", value, "/tmp"));
    EXPECT_EQ(value, out);
}

TEST_F(InProcessRun, FolderStoreDefaultsRoundTripsAndReplacesWhole) {
    std::string value = "stale";
    EXPECT_FALSE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertSave", value, "/tmp"));
    EXPECT_EQ(value, "/tmp");

    ASSERT_TRUE(StoreFolderSetting(SettingsPlace{}, kKey, "ConvertSave", "/data/first"));
    ASSERT_TRUE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertSave", value, "/tmp"));
    EXPECT_EQ(value, "/data/first");
    EXPECT_FALSE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertOpen", value, "/tmp"));

    // A reader of the old value keeps the whole old text while the value is
    // replaced: the new text is written beside it and renamed over it.
    const std::string keyFolder = PosixSettingsFolder() + "/HKEY_CURRENT_USER/SOFTWARE/Trevalo";
    std::FILE* old = std::fopen((keyFolder + "/ConvertSave").c_str(), "rb");
    ASSERT_NE(old, nullptr);
    ASSERT_TRUE(StoreFolderSetting(SettingsPlace{}, kKey, "ConvertSave",
                                   "/data/second/and/longer"));
    char buffer[64] = {0};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, old);
    std::fclose(old);
    EXPECT_EQ(std::string(buffer, got), "/data/first");
    ASSERT_TRUE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertSave", value, "/tmp"));
    EXPECT_EQ(value, "/data/second/and/longer");
    int files = 0;
    for (const auto& entry : fs::directory_iterator(keyFolder)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1) << "a temporary file was left behind";

    // Storing the text a value already holds leaves its file as it is; any
    // other text, a longer or a shorter one, replaces it.
    struct stat before {}, after {};
    const std::string savePath = keyFolder + "/ConvertSave";
    ASSERT_EQ(stat(savePath.c_str(), &before), 0);
    ASSERT_TRUE(StoreFolderSetting(SettingsPlace{}, kKey, "ConvertSave",
                                   "/data/second/and/longer"));
    ASSERT_EQ(stat(savePath.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged value was written again";
    for (const char* text : {"/data/second/and/longe", "/data/second/and/longer/", ""}) {
        ASSERT_TRUE(StoreFolderSetting(SettingsPlace{}, kKey, "ConvertSave", text));
        EXPECT_EQ(ReadFileBytes(savePath), text);
    }

    // Empty texts are values too (a header given as a bare file name).
    ASSERT_TRUE(StoreFolderSetting(SettingsPlace{}, kKey, "ConvertOpen", ""));
    EXPECT_TRUE(LoadFolderSetting(SettingsPlace{}, kKey, "ConvertOpen", value, "/tmp"));
    EXPECT_EQ(value, "");
}

TEST(RunConverterProcess, TwoArgumentsConvertAndRememberBothFolders) {
    TempFolder home;
    WriteEmptyRecording(home / "obs");
    const struct {
        std::string given, used;
    } outputs[] = {
        {home / "out", home / "out"},
        {home / "out2/", home / "out2"},
        {home / "out3//", home / "out3/"},
    };
    for (const auto& o : outputs) {
        const ProcessResult r = RunProcess({VMFITS_BINARY, home / "obs/sun.05h", o.given}, Isolated(home));
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_TRUE(fs::is_directory(o.used)) << o.used;
        EXPECT_EQ(StoredValue(home / "config", "ConvertOpen"), home / "obs");
        EXPECT_EQ(StoredValue(home / "config", "ConvertSave"), o.used);
    }
}

TEST(RunConverterProcess, MissingHeaderFailsWithNothingWritten) {
    TempFolder home;
    const std::string missing = home / "obs/none.05h";
    const ProcessResult r = RunProcess({VMFITS_BINARY, missing, home / "out"}, Isolated(home));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Can't open " + missing), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(home / "out"));
    EXPECT_FALSE(FileExists(home / "config"));
}

// Without a terminal or a display no header is chosen: the usage says what
// to give. --version (of every program) and bad usage convert nothing either.
TEST(RunConverterProcess, WithoutAHeaderNothingIsConverted) {
    TempFolder home;
    WriteEmptyRecording(home / "obs");
    const std::string usage =
        "usage: vm-fits [--cfg TABLE] HEADER OUTPUT-FOLDER [BACK] (vm-fits --help tells more)\n";
    const std::string tools = VMFITS_TOOLS_DIR;
    const struct {
        std::vector<std::string> args;  // the program first
        int exitCode;
        std::string out, err;
    } cases[] = {
        {{VMFITS_BINARY}, 0, "", usage},
        {{VMFITS_BINARY, home / "obs/sun.05h"}, 0, "", usage},
        {{VMFITS_BINARY, home / "obs/sun.05h", home / "out", "--cfg"}, 2, "", "vm-fits: --cfg needs a TABLE\n" + usage},
        {{VMFITS_BINARY, "--version"}, 0, VersionLine("vm-fits") + "\n", ""},
        {{tools + "/vm-scan", "--version"}, 0, VersionLine("vm-scan") + "\n", ""},
        {{tools + "/vm-batch", "--version"}, 0, VersionLine("vm-batch") + "\n", ""},
        {{tools + "/vm-simobs", "--version"}, 0, VersionLine("vm-simobs") + "\n", ""},
    };
    for (const auto& c : cases) {
        const std::vector<std::string>& args = c.args;
        const ProcessResult r = RunProcess(args, Isolated(home));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_FALSE(FileExists(home / "config"));
        EXPECT_FALSE(FileExists(home / "out"));
    }
}

// Runs the converter with a pseudo-terminal as standard input and answers its
// prompt with `answer`. Returns the exit code.
int RunWithTerminalAnswer(const TempFolder& home, const std::vector<std::string>& args,
                          const std::string& answer) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        execv(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    // Wait for the prompt, then answer.
    std::string seen;
    char buffer[256];
    while (seen.find(": ") == std::string::npos) {
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string line = answer + "\n";
    if (write(master, line.data(), line.size()) < 0) return -1;
    while (read(master, buffer, sizeof buffer) > 0) {
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// All files of a folder by name, with their bytes.
std::map<std::string, std::string> FolderContents(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

TEST(RunConverterProcess, TerminalPromptChoosesTheHeaderAndRepairsTwoSided) {
    TempFolder home;
    // A simulated recording with level jumps, and the converter with its
    // calibration table beside it.
    const std::string obs = home / "obs";
    const ProcessResult made = RunProcess({VMFITS_TOOLS_DIR "/vm-simobs", "--out", obs, "--seed", "3",
                                           "--channels", "3", "--samples", "300", "--cfg"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    fs::create_directories(home / "bin");
    const std::string program = home / "bin/vm-fits";
    fs::copy_file(VMFITS_BINARY, program);
    fs::copy_file(obs + "/vm-fits.cfg", home / "bin/vm-fits.cfg");
    const std::string header = obs + "/sun.05h";

    ASSERT_EQ(RunProcess({program, header, home / "back", "x"}, Isolated(home)).exitCode, 1);
    const std::string remembered = home / "remembered";
    ASSERT_EQ(RunProcess({program, header, remembered}, Isolated(home)).exitCode, 1);
    const auto twoArguments = FolderContents(remembered);
    ASSERT_GT(twoArguments.size(), 1u);
    ASSERT_NE(FolderContents(home / "back"), twoArguments);  // the rules differ here
    fs::remove_all(remembered);

    // A single argument is ignored: the header is asked for, the output goes to
    // the remembered folder, and the jumps are repaired as with two arguments.
    EXPECT_EQ(RunWithTerminalAnswer(home, {program, "one-ignored-argument"}, header), 1);
    ASSERT_TRUE(fs::is_directory(remembered));
    EXPECT_EQ(FolderContents(remembered), twoArguments);

    // An empty answer, or a path longer than 126 characters, is a cancelled choice.
    fs::remove_all(remembered);
    EXPECT_EQ(RunWithTerminalAnswer(home, {program}, ""), 0);
    EXPECT_EQ(RunWithTerminalAnswer(home, {program}, "/" + std::string(126, 'x')), 0);
    EXPECT_FALSE(FileExists(remembered));
}

}  // namespace

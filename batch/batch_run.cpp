#include "batch/batch_run.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "batch/digest.h"
#include "batch/runner.h"
#include "batch/summary.h"
#include "platform/platform.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const char* const kConverterName = "vm-fits";
const char* const kTableName = "vm-fits.cfg";

volatile std::sig_atomic_t gStopSignal = 0;
int gWakeFds[2] = {-1, -1};

void OnStopSignal(int signal) {
    gStopSignal = signal;
    const char byte = 1;
    const ssize_t ignored = write(gWakeFds[1], &byte, 1);
    (void)ignored;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : path.substr(0, slash);
}

bool RealPath(const std::string& path, std::string& real) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return false;
    real = resolved;
    std::free(resolved);
    return true;
}

bool MakeFolders(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
    return fs::is_directory(path, error);
}

int ScanCount(const std::vector<OutputFile>& outputs) {
    return outputs.empty() ? 0 : static_cast<int>(outputs.size()) - 1;  // the index comes first
}

std::string WithNote(const std::string& note, const std::string& message) {
    if (note.empty()) return message;
    if (message.empty()) return note;
    return note + "; " + message;
}

// The private folder of a run: the settings store the conversions write
// into, and, for --cfg, a copy of vm-fits with the chosen table beside it.
struct WorkFolder {
    std::string path;
    std::string converter;  // what the conversions run
    std::string settings;   // their XDG_CONFIG_HOME
};

bool MakeWorkFolder(const std::string& converter, const std::string& table, WorkFolder& work,
                    std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vm-batch-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error = "Can't create a folder in " + FolderOf(pattern) + ": " + std::strerror(errno);
        return false;
    }
    work.path = pattern;
    work.settings = work.path + "/config";
    work.converter = converter;
    std::error_code failure;
    fs::create_directory(work.settings, failure);
    if (!table.empty() && !failure) {
        // vm-fits reads its table beside its own executable file (a symbolic
        // link would lead it back to the original's folder): a hard link or a copy.
        work.converter = work.path + "/" + kConverterName;
        if (link(converter.c_str(), work.converter.c_str()) != 0) {
            fs::copy_file(converter, work.converter, failure);
            if (!failure) fs::permissions(work.converter, fs::perms::owner_all, fs::perm_options::add, failure);
        }
        if (!failure) fs::copy_file(table, work.path + "/" + kTableName, failure);
    }
    if (failure) {
        error = "Can't prepare " + work.path + ": " + failure.message();
        fs::remove_all(work.path, failure);
        return false;
    }
    return true;
}

std::vector<std::string> ChildEnvironment(const std::string& settings) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0) environment.emplace_back(*e);
    environment.push_back("XDG_CONFIG_HOME=" + settings);
    return environment;
}

// vm-fits --help from where the conversions will run it: a program that
// cannot be started (a folder mounted without execution, say) is found
// before the first recording.
bool ConverterRuns(const std::string& converter, const std::vector<std::string>& environment,
                   std::string& error) {
    ChildResult result;
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t) { return ChildJob{{converter, "--help"}, ""}; };
    callbacks.finished = [&](std::size_t, const ChildResult& r) { result = r; };
    RunJobs(1, 1, environment, callbacks, nullptr, -1);
    if (result.exitCode == 0) return true;
    error = !result.startError.empty() ? result.startError
            : result.signal != 0       ? converter + " --help " + SignalText(result.signal)
                                       : converter + " does not run: " + LastLine(result.output);
    return false;
}

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

struct Progress {
    using Clock = std::chrono::steady_clock;
    bool terminal = false;
    std::size_t done = 0;
    std::size_t total = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point drawn{};

    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
    // The bar, redrawn at most ten times a second unless `now`.
    void Draw(bool now = false) {
        if (!terminal || total == 0) return;
        if (!now && Clock::now() - drawn < std::chrono::milliseconds(100)) return;
        drawn = Clock::now();
        std::fprintf(stderr, "\r\033[K%s", ProgressLine(done, total, Elapsed(), TerminalWidth() - 1).c_str());
        std::fflush(stderr);
    }
    // A finished recording: a line of its own without a terminal; on a
    // terminal only those not converted cleanly get a line, above the bar.
    void Finished(const SummaryRow& row) {
        ++done;
        char count[48];
        std::snprintf(count, sizeof count, "[%zu/%zu] ", done, total);
        std::string line = count + std::string(StatusName(row.status)) + " " + row.recording;
        std::string counts;
        if (row.status == RowStatus::Converted)
            counts = std::to_string(row.scans) + (row.scans == 1 ? " scan file" : " scan files");
        if (!row.warnings.empty()) counts += (counts.empty() ? "" : ", ") + WarningCount(row.warnings);
        if (!counts.empty()) line += " (" + counts + ")";
        if (!row.message.empty()) line += ": " + row.message;
        const bool shown = row.status != RowStatus::Converted || !row.warnings.empty();
        if (!terminal) {
            std::fprintf(stderr, "%s\n", line.c_str());
        } else if (shown) {
            std::fprintf(stderr, "\r\033[K%s\n", line.c_str());
        }
        Draw(shown || done == total);
    }
    void End() const {
        if (terminal && total > 0) std::fputc('\n', stderr);
    }
};

int CannotRun(const std::string& message) {
    std::fprintf(stderr, "vm-batch: %s\n", message.c_str());
    return kBatchCannotRun;
}

void DryRunListing(const std::vector<const Recording*>& recordings,
                   const std::vector<Decision>& decisions) {
    std::size_t convert = 0, skip = 0, fail = 0;
    for (std::size_t i = 0; i < recordings.size(); ++i) {
        const Decision& d = decisions[i];
        const char* verb = d.action == Action::Convert ? "convert" : d.action == Action::Skip ? "skip" : "fail";
        (d.action == Action::Convert ? convert : d.action == Action::Skip ? skip : fail) += 1;
        std::printf("%-8s %s (%s)\n", verb, recordings[i]->Path().c_str(),
                    WithNote(d.note, d.reason).c_str());
    }
    std::printf("%zu recordings: %zu to convert, %zu to skip, %zu that would fail\n",
                recordings.size(), convert, skip, fail);
}

}  // namespace

bool FindConverter(const std::string& explicitPath, const std::string& selfPath,
                   std::string& converter, std::string& error) {
    if (!explicitPath.empty()) {
        if (access(explicitPath.c_str(), X_OK) != 0 || !RealPath(explicitPath, converter)) {
            error = "Can't run " + explicitPath + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string beside = FolderOf(selfPath) + "/" + kConverterName;
    const std::string above = FolderOf(FolderOf(selfPath)) + "/" + kConverterName;
    for (const std::string& candidate : {beside, above}) {
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0 && RealPath(candidate, converter))
            return true;
    }
    error = "Can't find vm-fits: neither " + beside + " nor " + above +
            " is a program; give its path with --vm-fits PATH";
    return false;
}

int ProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

ConversionVerdict JudgeConversion(const ChildResult& result, bool collected, const std::string& missing) {
    ConversionVerdict verdict;
    ConverterOutput said = SplitConverterOutput(result.output);
    verdict.status = std::move(said.status);
    verdict.warnings = std::move(said.warnings);
    if (!result.startError.empty()) {
        verdict.reason = result.startError;
    } else if (result.signal != 0) {
        verdict.reason = "vm-fits " + SignalText(result.signal);
    } else if (result.exitCode == 1 && collected) {
        verdict.converted = true;
        verdict.reason = verdict.status;
    } else if (result.exitCode == 1) {
        verdict.reason = missing;
    } else if (result.exitCode == 2 && !verdict.status.empty()) {
        verdict.reason = verdict.status;
    } else {
        verdict.reason = "vm-fits exited with " + std::to_string(result.exitCode) +
                         (verdict.status.empty() ? "" : ": " + verdict.status);
    }
    if (!verdict.converted && verdict.reason.empty()) verdict.reason = "vm-fits failed without a message";
    return verdict;
}

namespace {

// What the run works with once its arguments are settled: full paths all.
struct RunSetup {
    std::string archive;
    std::string converter;
    std::string tablePath;
    TableStamp table;
    std::string output;
};

bool SettleRun(const BatchOptions& options, RunSetup& setup, std::string& error) {
    struct stat info;
    if (stat(options.archive.c_str(), &info) != 0 || !RealPath(options.archive, setup.archive)) {
        error = "Can't read " + options.archive + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "Can't read " + options.archive + ": not a folder";
        return false;
    }
    if (!FindConverter(options.converter, PlatformExecutablePath(nullptr), setup.converter, error))
        return false;
    const std::string table = options.table.empty() ? FolderOf(setup.converter) + "/" + kTableName : options.table;
    if (!RealPath(table, setup.tablePath) || !StampOfFile(setup.tablePath, setup.table.file) ||
        access(setup.tablePath.c_str(), R_OK) != 0) {
        error = options.table.empty() ? "no calibration table: " + table + " is missing; give one with --cfg TABLE"
                                      : "Can't read the calibration table " + options.table;
        return false;
    }
    // Its bytes tell a copy elsewhere from another table.
    if (!FileDigest(setup.tablePath, setup.table.digest, error)) return false;
    // The output folder: created (unless only listing), and never the archive itself.
    if (!options.dryRun && !MakeFolders(options.output)) {
        error = "Can't create " + options.output;
        return false;
    }
    if (!RealPath(options.output, setup.output))
        setup.output = fs::absolute(options.output).lexically_normal().string();
    if (setup.output == setup.archive) {
        error = "the output folder " + options.output + " is the archive itself";
        return false;
    }
    return true;
}

// Everything the conversions of a run share.
struct BatchState {
    const BatchOptions& options;
    const RunSetup& setup;
    const WorkFolder& work;
    const std::map<std::string, ManifestEntry>& latest;
    const std::vector<const Recording*>& mine;
    const std::vector<Decision>& decisions;
    std::vector<std::size_t> toConvert;  // positions in `mine`
    std::vector<SummaryRow> rows;        // one per recording of `mine`
    ManifestWriter manifest;
    std::string manifestError;  // the first line that could not be written
    Progress progress;
};

void AppendToManifest(BatchState& state, const ManifestEntry& entry, SummaryRow* row) {
    std::string error;
    if (AppendManifestLine(state.manifest, ManifestLine(entry), error)) return;
    if (state.manifestError.empty()) state.manifestError = error;
    if (row) row->message = WithNote(row->message, "not recorded in the manifest");
}

ChildJob PrepareConversion(BatchState& state, std::size_t job) {
    const Recording& r = *state.mine[state.toConvert[job]];
    const std::string outFolder = JoinPath(state.setup.output, r.folder);
    // vm-fits creates the last level itself, one level only: the ones above
    // are made here. When that fails, vm-fits says so.
    if (!r.folder.empty()) MakeFolders(FolderOf(outFolder));
    // A recorded conversion is void from here on, until this one is recorded.
    const auto known = state.latest.find(r.Path());
    if (known != state.latest.end() && !known->second.started && known->second.exitCode == 1) {
        ManifestEntry started;
        started.recording = r.Path();
        started.started = true;
        started.time = ManifestTime();
        AppendToManifest(state, started, nullptr);
    }
    ChildJob what;
    what.argv = {state.work.converter, r.headerName, outFolder};
    if (state.options.back) what.argv.push_back("back");
    what.workingFolder = JoinPath(state.setup.archive, r.folder);
    return what;
}

void RecordConversion(BatchState& state, std::size_t job, const ChildResult& result) {
    const std::size_t i = state.toConvert[job];
    const Recording& r = *state.mine[i];
    SummaryRow& row = state.rows[i];
    const std::string& note = state.decisions[i].note;
    row.exitCode = result.exitCode;
    const bool interrupted = gStopSignal != 0 &&
                             (result.signal == SIGTERM || result.signal == SIGINT || result.signal == SIGHUP);
    if (interrupted) {  // not recorded: it is converted again next time
        row.status = RowStatus::Interrupted;
        row.message = WithNote(note, "stopped: the run was interrupted");
        state.progress.Finished(row);
        return;
    }
    std::vector<OutputFile> outputs;
    std::string missing;
    const bool collected =
        result.startError.empty() && CollectOutputs(state.setup.archive, r, state.setup.output, outputs, missing);
    const ConversionVerdict verdict = JudgeConversion(result, collected, missing);
    row.status = verdict.converted ? RowStatus::Converted : RowStatus::Failed;
    row.scans = ScanCount(outputs);
    row.message = WithNote(note, verdict.reason);
    row.warnings = verdict.warnings;
    if (result.startError.empty()) {
        // Failures are recorded too; they never count as done.
        ManifestEntry entry;
        entry.recording = r.Path();
        entry.time = ManifestTime();
        entry.inputs = r.inputs;
        entry.table = state.setup.table;
        entry.back = state.options.back;
        entry.exitCode = result.exitCode;
        entry.status = verdict.status.empty() ? verdict.reason : verdict.status;
        entry.warnings = verdict.warnings;
        entry.outputs = outputs;
        AppendToManifest(state, entry, &row);
    }
    state.progress.Finished(row);
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    RunSetup setup;
    if (!SettleRun(options, setup, error)) return CannotRun(error);

    Discovery found;
    std::map<std::string, ManifestEntry> latest;
    if (!FindRecordings(setup.archive, setup.output, found, error) || !ReadManifests(setup.output, latest, error))
        return CannotRun(error);
    const std::map<std::size_t, std::string> clashes = NameClashes(found.recordings, setup.archive);
    std::vector<const Recording*> mine;
    std::vector<Decision> decisions;
    for (std::size_t i = 0; i < found.recordings.size(); ++i) {
        if (!InShard(i, options.shard)) continue;
        const auto clash = clashes.find(i);
        mine.push_back(&found.recordings[i]);
        decisions.push_back(Decide(found.recordings[i], clash == clashes.end() ? "" : clash->second, latest,
                                   setup.table, options.back, setup.output));
    }
    std::vector<std::string> problems;
    for (const FolderProblem& p : found.problems)
        problems.push_back("folder " + JoinPath(options.archive, p.folder) + ": " + p.message);
    if (options.dryRun) {
        DryRunListing(mine, decisions);
        for (const std::string& problem : problems) std::printf("%s\n", problem.c_str());
        return kBatchAllDone;
    }

    WorkFolder work;
    BatchState state{options, setup, work, latest, mine, decisions, {}, std::vector<SummaryRow>(mine.size()), {}, {}, {}};
    const std::string manifestPath =
        setup.output + "/" + ManifestFileName(options.shard.index, options.shard.count);
    if (!OpenManifest(manifestPath, state.manifest, error)) return CannotRun(error);
    if (!MakeWorkFolder(setup.converter, options.table.empty() ? "" : setup.tablePath, work, error)) {
        CloseManifest(state.manifest);
        return CannotRun(error);
    }
    const std::vector<std::string> environment = ChildEnvironment(work.settings);
    if (!ConverterRuns(work.converter, environment, error)) {
        if (work.converter != setup.converter) error += " (a copy made for --cfg; TMPDIR must allow running programs)";
        fs::remove_all(work.path);
        CloseManifest(state.manifest);
        return CannotRun(error);
    }

    // Rows in the order of the sorted list; the conversions fill theirs in.
    std::size_t skipped = 0;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        const Decision& d = decisions[i];
        SummaryRow& row = state.rows[i];
        row.recording = mine[i]->Path();
        row.message = WithNote(d.note, d.reason);
        if (d.action == Action::Convert) {
            state.toConvert.push_back(i);
        } else if (d.action == Action::Skip) {
            const ManifestEntry& entry = latest.at(row.recording);
            row.status = RowStatus::Skipped;
            row.exitCode = entry.exitCode;
            row.scans = ScanCount(entry.outputs);
            row.warnings = entry.warnings;
            ++skipped;
        }
    }
    std::fprintf(stderr, "vm-batch: %zu recordings, %zu to convert, %zu unchanged, %zu that cannot be converted\n",
                 mine.size(), state.toConvert.size(), skipped, mine.size() - state.toConvert.size() - skipped);

    if (pipe2(gWakeFds, O_CLOEXEC | O_NONBLOCK) != 0) gWakeFds[0] = gWakeFds[1] = -1;
    struct sigaction stopAction {};
    stopAction.sa_handler = OnStopSignal;
    sigemptyset(&stopAction.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stopAction, nullptr);

    state.progress.terminal = isatty(STDERR_FILENO) != 0;
    state.progress.total = state.toConvert.size();
    state.progress.Draw(true);
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t job) { return PrepareConversion(state, job); };
    callbacks.finished = [&](std::size_t job, const ChildResult& result) { RecordConversion(state, job, result); };
    callbacks.tick = [&] { state.progress.Draw(); };
    const int jobs = options.jobs > 0 ? options.jobs : ProcessorCount();
    const std::size_t started =
        RunJobs(state.toConvert.size(), jobs, environment, callbacks, &gStopSignal, gWakeFds[0]);
    for (std::size_t job = started; job < state.toConvert.size(); ++job) {
        const std::size_t i = state.toConvert[job];
        state.rows[i].status = RowStatus::Interrupted;
        state.rows[i].message = WithNote(decisions[i].note, "not converted: the run was interrupted");
    }
    state.progress.End();
    CloseManifest(state.manifest);
    fs::remove_all(work.path);

    if (!state.manifestError.empty()) problems.push_back("manifest: " + state.manifestError);
    const std::string summaryPath = setup.output + "/" + SummaryFileName(options.shard.index, options.shard.count);
    if (!WriteSummary(summaryPath, state.rows, error)) problems.push_back("summary: " + error);
    Totals totals = CountRows(state.rows);
    totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fputs(FinalTable(state.rows, totals, problems).c_str(), stdout);
    std::fflush(stdout);

    if (gStopSignal != 0) {
        const int signal = gStopSignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return totals.failed > 0 || !problems.empty() ? kBatchSomeFailed : kBatchAllDone;
}

#include "batch/batch_run.h"

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>

#include "app/conversion.h"
#include "batch/catalog_entries.h"
#include "batch/digest.h"
#include "batch/runner.h"
#include "batch/summary.h"
#include "inputs/calibration.h"
#include "platform/paths.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool RealPath(const std::string& path, std::string& real) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return false;
    real = resolved;
    std::free(resolved);
    return true;
}

int ScanCount(const std::vector<OutputFile>& outputs) {
    return outputs.empty() ? 0 : static_cast<int>(outputs.size()) - 1;  // the index comes first
}

std::string WithNote(const std::string& note, const std::string& message) {
    if (note.empty()) return message;
    if (message.empty()) return note;
    return note + "; " + message;
}

bool StopRequested(const BatchStreams& io) { return io.stop && *io.stop != 0; }

// The environment of this process, for the programs it starts.
std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    return environment;
}

// PROGRAM --help: a --vm-fits program that cannot be started (a folder
// mounted without execution, say) is found before the first recording.
bool ConverterRuns(const std::string& converter, std::string& error) {
    ChildResult result;
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t) { return ChildJob{{converter, "--help"}, ""}; };
    callbacks.finished = [&](std::size_t, const ChildResult& r) { result = r; };
    RunJobs(1, 1, CurrentEnvironment(), callbacks, nullptr, -1);
    if (result.exitCode == 0) return true;
    error = !result.startError.empty() ? result.startError
            : result.signal != 0       ? converter + " --help " + SignalText(result.signal)
                                       : converter + " does not run: " + LastLine(result.output);
    return false;
}

// Writes the whole text to `fd`; false when it cannot.
bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A conversion in a child of this process: the request's, handing its status
// lines, its warnings and at the end its exit code and the files it wrote to
// the parent as its report on `dataFd` (see ReadChildReport). What else it
// prints goes to its standard output, which the report never shares.
int ConvertInChild(const ConversionRequest& request, int dataFd) {
    StatusSink sink;
    sink.status = [dataFd](const std::string& text) { WriteAll(dataFd, ReportStatusLine(text)); };
    sink.warning = [dataFd](const RunWarning& warning) { WriteAll(dataFd, ReportWarningLine(warning)); };
    const ConversionResult result = ConvertRecording(request, sink);
    std::vector<std::string> files;
    if (!result.loop.scanIndexPath.empty()) files.push_back(result.loop.scanIndexPath);
    files.insert(files.end(), result.loop.scanFiles.begin(), result.loop.scanFiles.end());
    WriteAll(dataFd, ReportEndLine(result.exitCode, files));
    return result.exitCode;
}

}  // namespace

bool FindDefaultTable(const std::string& converter, const std::string& selfPath, std::string& table,
                      std::string& error) {
    // The place vm-fits finds its table, for that program or for vm-batch itself.
    const std::string program = converter.empty() ? selfPath : converter;
    table = DefaultCalibrationTablePath(program);
    if (CountCalibrationRows(table) >= 0) return true;
    const std::vector<std::string> places = CalibrationTablePlaces(program);
    error = "no calibration table: " +
            (places.size() == 1 ? places[0] : "neither " + places[0] + " nor " + places[1]) + " is there" +
            (converter.empty() ? "; give one with --cfg TABLE" : " (where " + converter + " looks for it)");
    return false;
}

int ProcessorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

ConversionVerdict JudgeConversion(const ChildResult& result, ConverterOutput said, bool collected,
                                  const std::string& missing) {
    ConversionVerdict verdict;
    verdict.status = std::move(said.status);
    verdict.warnings = std::move(said.warnings);
    if (!result.startError.empty()) {
        verdict.reason = result.startError;
    } else if (result.signal != 0) {
        verdict.reason = "vm-fits " + SignalText(result.signal);
    } else if (!said.lost.empty()) {
        verdict.reason = said.lost;
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

// The progress of a run: on a terminal a bar that is redrawn, with a line
// above it for each recording not converted cleanly; else a line for every
// recording.
class Progress {
public:
    Progress(BatchStreams& io, std::size_t total) : io_(io), total_(total) {}

    // The bar, redrawn at most ten times a second unless `now`.
    void Draw(bool now = false) {
        if (!io_.errIsTerminal || io_.watching || total_ == 0) return;
        if (!now && Clock::now() - drawn_ < std::chrono::milliseconds(100)) return;
        drawn_ = Clock::now();
        io_.err << "\r\033[K" << ProgressLine(done_, total_, Elapsed(), io_.terminalWidth - 1) << std::flush;
    }
    void Finished(const SummaryRow& row) {
        ++done_;
        std::string line = (io_.watching ? "vm-batch: "
                                         : "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] ") +
                           StatusName(row.status) + " " + row.recording;
        std::string counts;
        if (row.status == RowStatus::Converted)
            counts = std::to_string(row.scans) + (row.scans == 1 ? " scan file" : " scan files");
        if (!row.warnings.empty()) counts += (counts.empty() ? "" : ", ") + WarningCount(row.warnings);
        if (!counts.empty()) line += " (" + counts + ")";
        if (!row.message.empty()) line += ": " + row.message;
        const bool shown = row.status != RowStatus::Converted || !row.warnings.empty();
        if (!io_.errIsTerminal || io_.watching) {
            io_.err << line << "\n" << std::flush;
        } else if (shown) {
            io_.err << "\r\033[K" << line << "\n" << std::flush;
        }
        Draw(shown || done_ == total_);
    }
    void End() const {
        if (io_.errIsTerminal && !io_.watching && total_ > 0) io_.err << "\n" << std::flush;
    }

private:
    using Clock = std::chrono::steady_clock;
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

    BatchStreams& io_;
    std::size_t done_ = 0;
    std::size_t total_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point drawn_{};
};

int CannotRun(BatchStreams& io, const std::string& message) {
    io.err << "vm-batch: " << message << "\n" << std::flush;
    return kBatchCannotRun;
}

// What the run works with once its arguments are settled: full paths all.
struct RunSetup {
    std::string archive;
    std::string converter;  // --vm-fits, or "" to convert in children of vm-batch
    std::string tablePath;
    TableStamp table;
    std::string output;
};

bool SettleArchive(const BatchOptions& options, RunSetup& setup, std::string& error) {
    struct stat info;
    if (stat(options.archive.c_str(), &info) != 0 || !RealPath(options.archive, setup.archive)) {
        error = "Can't read " + options.archive + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = "Can't read " + options.archive + ": not a folder";
        return false;
    }
    return true;
}

bool SettleOutput(const BatchOptions& options, RunSetup& setup, std::string& error) {
    // The output folder: created (unless only listing), and never the archive itself.
    std::string failure;
    if (!options.dryRun && !MakeFolders(options.output, &failure)) {
        error = "Can't create " + options.output + ": " + failure;
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

bool SettleConverterAndTable(const BatchOptions& options, RunSetup& setup, std::string& error) {
    if (!options.converter.empty()) {
        if (!options.table.empty()) {
            error = "--cfg does not go with --vm-fits: that program finds its own vm-fits.cfg";
            return false;
        }
        if (access(options.converter.c_str(), X_OK) != 0 || !RealPath(options.converter, setup.converter)) {
            error = "Can't run " + options.converter + ": " + std::strerror(errno);
            return false;
        }
    }
    std::string table = options.table;
    if (table.empty() && !FindDefaultTable(setup.converter, PlatformExecutablePath(nullptr), table, error))
        return false;
    if (!RealPath(table, setup.tablePath) || !StampOfFile(setup.tablePath, setup.table.file) ||
        access(setup.tablePath.c_str(), R_OK) != 0) {
        error = "Can't read the calibration table " + table;
        return false;
    }
    // Read as the conversions read it: without a row no channel gets a scan file.
    const int rows = CountCalibrationRows(setup.tablePath);
    if (rows <= 0) {
        error = rows < 0 ? "Can't read the calibration table " + table
                         : "the calibration table " + table + " holds no row of numbers: no recording would get a scan file";
        return false;
    }
    // Its bytes tell a copy elsewhere from another table.
    return FileDigest(setup.tablePath, setup.table.digest, error);
}

// The recordings of the shard and what becomes of each.
struct Work {
    Discovery found;
    std::map<std::string, ManifestEntry> latest;
    std::vector<const Recording*> mine;
    std::vector<Decision> decisions;
    std::vector<std::string> problems;  // for the end of the final table
};

bool FindWork(const BatchOptions& options, const RunSetup& setup, Work& work, std::string& error) {
    if (!FindRecordings(setup.archive, setup.output, work.found, error) ||
        !ReadManifests(setup.output, work.latest, error))
        return false;
    const std::map<std::size_t, std::string> clashes = NameClashes(work.found.recordings, setup.archive);
    for (std::size_t i = 0; i < work.found.recordings.size(); ++i) {
        if (!InShard(i, options.shard)) continue;
        const auto clash = clashes.find(i);
        const Decision decision = Decide(work.found.recordings[i], clash == clashes.end() ? "" : clash->second,
                                         work.latest, setup.table, options.back, setup.output);
        if (options.select && decision.action != Action::Skip && !options.select(work.found.recordings[i]))
            continue;
        work.mine.push_back(&work.found.recordings[i]);
        work.decisions.push_back(decision);
    }
    for (const FolderProblem& p : work.found.problems)
        work.problems.push_back("folder " + JoinPath(options.archive, p.folder) + ": " + p.message);
    return true;
}

void DryRunListing(const Work& work, std::ostream& out) {
    std::size_t convert = 0, skip = 0, fail = 0;
    for (std::size_t i = 0; i < work.mine.size(); ++i) {
        const Decision& d = work.decisions[i];
        const char* verb = d.action == Action::Convert ? "convert" : d.action == Action::Skip ? "skip" : "fail";
        (d.action == Action::Convert ? convert : d.action == Action::Skip ? skip : fail) += 1;
        char text[16];
        std::snprintf(text, sizeof text, "%-8s ", verb);
        out << text << work.mine[i]->Path() << " (" << WithNote(d.note, d.reason) << ")\n";
    }
    out << work.mine.size() << " recordings: " << convert << " to convert, " << skip << " to skip, " << fail
        << " that would fail\n";
    for (const std::string& problem : work.problems) out << problem << "\n";
}

// Everything the conversions of a run share.
struct BatchState {
    const BatchOptions& options;
    const RunSetup& setup;
    const Work& work;
    BatchStreams& io;
    std::vector<std::size_t> toConvert;  // positions in work.mine
    std::vector<SummaryRow> rows;        // one per recording of work.mine
    ManifestWriter manifest;
    std::string manifestError;  // the first line that could not be written
    Catalog catalog;            // open when --catalog is given
    std::string catalogError;   // the first entry that could not be added
};

void AddToCatalog(BatchState& state, const CatalogInput& input, SummaryRow& row) {
    if (state.catalog.db == nullptr) return;
    std::string error;
    const bool added = state.options.enter ? state.options.enter(state.catalog, input, error)
                                           : AddCatalogEntry(state.catalog, input, error);
    if (added) return;
    if (state.catalogError.empty()) state.catalogError = error;
    row.message = WithNote(row.message, state.options.enter ? "its products or catalog entry not made"
                                                            : "not added to the catalog");
}

// Adds the entries of the recordings not converted by this run: those that
// cannot be converted, and the skipped ones the catalog does not hold yet.
void CatalogUnconverted(BatchState& state) {
    if (state.catalog.db == nullptr) return;
    std::vector<std::string> held;
    std::string error;
    if (!CatalogHeaders(state.catalog, held, error)) {
        state.catalogError = error;
        return;
    }
    for (std::size_t i = 0; i < state.work.mine.size(); ++i) {
        const Decision& d = state.work.decisions[i];
        const Recording& r = *state.work.mine[i];
        if (d.action == Action::Fail) {
            AddToCatalog(state, CatalogInputOfFailure(state.setup.archive, state.setup.output, r, d.reason),
                         state.rows[i]);
        } else if (d.action == Action::Skip && !std::binary_search(held.begin(), held.end(), r.Path())) {
            AddToCatalog(state,
                         CatalogInputOfConversion(state.setup.archive, state.setup.output, r,
                                                  state.work.latest.at(r.Path())),
                         state.rows[i]);
        }
    }
}

// The rows in the order of the sorted list: skipped and failed ones as
// decided, the rest filled in by their conversions. Returns how many are skipped.
std::size_t StartRows(BatchState& state) {
    std::size_t skipped = 0;
    state.rows.assign(state.work.mine.size(), SummaryRow());
    for (std::size_t i = 0; i < state.work.mine.size(); ++i) {
        const Decision& d = state.work.decisions[i];
        SummaryRow& row = state.rows[i];
        row.recording = state.work.mine[i]->Path();
        row.message = WithNote(d.note, d.reason);
        if (d.action == Action::Fail && state.io.watching)
            state.io.err << "vm-batch: failed " << row.recording << ": " << row.message << "\n" << std::flush;
        if (d.action == Action::Convert) {
            state.toConvert.push_back(i);
        } else if (d.action == Action::Skip) {
            const ManifestEntry& entry = state.work.latest.at(row.recording);
            row.status = RowStatus::Skipped;
            row.exitCode = entry.exitCode;
            row.scans = ScanCount(entry.outputs);
            row.warnings = entry.warnings;
            ++skipped;
        }
    }
    return skipped;
}

void AppendToManifest(BatchState& state, const ManifestEntry& entry, SummaryRow* row) {
    std::string error;
    if (AppendManifestLine(state.manifest, ManifestLine(entry), error)) return;
    if (state.manifestError.empty()) state.manifestError = error;
    if (row) row->message = WithNote(row->message, "not recorded in the manifest");
}

ChildJob PrepareConversion(BatchState& state, std::size_t job) {
    const Recording& r = *state.work.mine[state.toConvert[job]];
    const RunSetup& setup = state.setup;
    const std::string outFolder = JoinPath(setup.output, r.folder);
    // The conversion creates the last level itself, one level only: the
    // ones above are made here. When that fails, the conversion says so.
    if (!r.folder.empty()) MakeFolders(fs::path(outFolder).parent_path().string());
    // A recorded conversion is void from here on, until this one is recorded.
    const auto known = state.work.latest.find(r.Path());
    if (known != state.work.latest.end() && !known->second.started && known->second.exitCode == 1) {
        ManifestEntry started;
        started.recording = r.Path();
        started.started = true;
        started.time = ManifestTime();
        AppendToManifest(state, started, nullptr);
    }
    ChildJob what;
    if (!setup.converter.empty()) {  // vm-fits run as by hand, in the recording's folder
        // A header named like one of vm-fits's options (--help) is given after "--".
        what.argv = {setup.converter};
        if (r.headerName.rfind('-', 0) == 0) what.argv.push_back("--");
        what.argv.insert(what.argv.end(), {r.headerName, outFolder});
        if (state.options.back) what.argv.push_back("back");
        what.workingFolder = JoinPath(setup.archive, r.folder);
        return what;
    }
    ConversionRequest request;
    request.headerPath = JoinPath(setup.archive, r.Path());
    request.outputFolder = outFolder;
    request.repairMode = RepairModeForArguments(state.options.back ? 3 : 2);
    request.calibrationTablePath = setup.tablePath;
    what.work = [request](int dataFd) { return ConvertInChild(request, dataFd); };
    return what;
}

void RecordConversion(BatchState& state, std::size_t job, const ChildResult& result, Progress& progress) {
    const std::size_t i = state.toConvert[job];
    const Recording& r = *state.work.mine[i];
    SummaryRow& row = state.rows[i];
    const std::string& note = state.work.decisions[i].note;
    row.exitCode = result.exitCode;
    const bool interrupted = StopRequested(state.io) &&
                             (result.signal == SIGTERM || result.signal == SIGINT || result.signal == SIGHUP);
    if (interrupted) {  // not recorded: it is converted again next time
        row.status = RowStatus::Interrupted;
        row.message = WithNote(note, "stopped: the run was interrupted");
        progress.Finished(row);
        return;
    }
    std::vector<OutputFile> outputs;
    std::string missing;
    const bool collected =
        result.startError.empty() && CollectOutputs(state.setup.archive, r, state.setup.output, outputs, missing);
    // A --vm-fits program says what it did in its output; a child of this
    // process in its report.
    ConverterOutput said = state.setup.converter.empty() ? ReadChildReport(result.data, result.output).said
                                                         : SplitConverterOutput(result.output);
    const ConversionVerdict verdict = JudgeConversion(result, std::move(said), collected, missing);
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
        AddToCatalog(state, CatalogInputOfConversion(state.setup.archive, state.setup.output, r, entry), row);
    }
    progress.Finished(row);
}

// The conversions, at most `jobs` at once; those never started because the
// run was stopped are marked so.
void ConvertAll(BatchState& state) {
    Progress progress(state.io, state.toConvert.size());
    progress.Draw(true);
    JobCallbacks callbacks;
    callbacks.prepare = [&](std::size_t job) { return PrepareConversion(state, job); };
    callbacks.finished = [&](std::size_t job, const ChildResult& result) {
        RecordConversion(state, job, result, progress);
    };
    callbacks.tick = [&] { progress.Draw(); };
    callbacks.finishRunningOnStop = state.io.watching;
    const int jobs = state.options.jobs > 0 ? state.options.jobs : ProcessorCount();
    const std::size_t started =
        RunJobs(state.toConvert.size(), jobs, CurrentEnvironment(), callbacks, state.io.stop, state.io.wakeFd);
    for (std::size_t job = started; job < state.toConvert.size(); ++job) {
        const std::size_t i = state.toConvert[job];
        state.rows[i].status = RowStatus::Interrupted;
        state.rows[i].message = WithNote(state.work.decisions[i].note, "not converted: the run was interrupted");
    }
    progress.End();
}

// The summary file and the final table; the run's exit code.
int Summarise(BatchState& state, std::vector<std::string> problems, double seconds) {
    std::string error;
    if (!state.manifestError.empty()) problems.push_back("manifest: " + state.manifestError);
    if (!state.catalogError.empty()) problems.push_back("catalog: " + state.catalogError);
    if (state.options.rows) {  // a pass of the watch: its caller keeps the summary
        *state.options.rows = state.rows;
        for (const std::string& problem : problems) state.io.err << "vm-batch: " << problem << "\n";
        state.io.err << std::flush;
        return CountRows(state.rows).failed > 0 || !problems.empty() ? kBatchSomeFailed : kBatchAllDone;
    }
    const Shard& shard = state.options.shard;
    const std::string summaryPath = state.setup.output + "/" + SummaryFileName(shard.index, shard.count);
    if (!WriteSummary(summaryPath, state.rows, error)) problems.push_back("summary: " + error);
    Totals totals = CountRows(state.rows);
    totals.seconds = seconds;
    state.io.out << FinalTable(state.rows, totals, problems) << std::flush;
    return totals.failed > 0 || !problems.empty() ? kBatchSomeFailed : kBatchAllDone;
}

}  // namespace

int RunBatch(const BatchOptions& options, BatchStreams& io) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    RunSetup setup;
    if (!SettleArchive(options, setup, error) || !SettleConverterAndTable(options, setup, error) ||
        !SettleOutput(options, setup, error))
        return CannotRun(io, error);
    Work work;
    if (!FindWork(options, setup, work, error)) return CannotRun(io, error);
    if (options.dryRun) {
        DryRunListing(work, io.out);
        io.out << std::flush;
        return kBatchAllDone;
    }

    BatchState state{options, setup, work, io, {}, {}, {}, {}, {}, {}};
    const std::string manifestPath = setup.output + "/" + ManifestFileName(options.shard.index, options.shard.count);
    if (!OpenManifest(manifestPath, state.manifest, error)) return CannotRun(io, error);
    if (!setup.converter.empty() && !ConverterRuns(setup.converter, error)) {
        CloseManifest(state.manifest);
        return CannotRun(io, error);
    }
    if (!options.catalog.empty() && !OpenCatalog(options.catalog, state.catalog, error)) {
        CloseManifest(state.manifest);
        return CannotRun(io, error);
    }
    const std::size_t skipped = StartRows(state);
    CatalogUnconverted(state);
    const std::size_t count = work.mine.size();
    if (!io.watching)
        io.err << "vm-batch: " << count << " recordings, " << state.toConvert.size() << " to convert, " << skipped
           << " unchanged, " << count - state.toConvert.size() - skipped << " that cannot be converted\n"
           << std::flush;
    ConvertAll(state);
    CloseManifest(state.manifest);
    return Summarise(state, work.problems,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

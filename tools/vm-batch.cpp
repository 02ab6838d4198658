// vm-batch: converts every recording of an archive, several at once,
// resumable, with a summary. The work is done in batch/; here are the
// command line and the stop signals.
#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "app/version.h"
#include "batch/batch_run.h"
#include "batch/catalog_entries.h"
#include "batch/merge.h"
#include "inputs/observation_header.h"
#include "tools/command_line.h"
#include "watch/watch.h"

namespace {

// Set by the stop signals, which may come at any time: a signal handler can
// only reach a flag and a pipe of the process.
volatile std::sig_atomic_t gStopSignal = 0;
int gWakeFds[2] = {-1, -1};

void OnStopSignal(int signal) {
    gStopSignal = signal;
    const char byte = 1;
    const ssize_t ignored = write(gWakeFds[1], &byte, 1);
    (void)ignored;
}

void CatchStopSignals() {
    if (pipe2(gWakeFds, O_CLOEXEC | O_NONBLOCK) != 0) gWakeFds[0] = gWakeFds[1] = -1;
    struct sigaction stopAction {};
    stopAction.sa_handler = OnStopSignal;
    sigemptyset(&stopAction.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stopAction, nullptr);
}

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

const std::string kDescription =
    "Converts every recording under ARCHIVE into the same folder under OUTPUT, one\n"
    "conversion per recording in a process of its own, several at once. A header is\n"
    "a file whose name does not end in 'p' and that has its marker file beside it\n"
    "(the name with its last character replaced by 'p') or is " +
    std::to_string(kObservationHeaderSize) +
    " bytes long.\n"
    "OUTPUT/vm-batch-manifest.jsonl records what was converted: a second run skips\n"
    "recordings whose inputs and outputs are unchanged. OUTPUT/vm-batch-summary.csv\n"
    "has one row per recording.\n"
    "vm-fits.cfg is looked for beside vm-batch, then in the folder above it.\n"
    "Exit codes: 0 all converted or skipped, 1 some failed, 2 bad usage or the run\n"
    "could not start (unreadable ARCHIVE, no calibration table).\n"
    "vm-batch --merge-summaries OUTPUT, after a run in shards, merges the shards'\n"
    "summaries and manifests into OUTPUT/vm-batch-summary.csv and\n"
    "vm-batch-manifest.jsonl (exit 1 when a recording is not converted or a\n"
    "shard's summary is missing).\n"
    "--catalog FILE adds each recording's entry (its scan files calibrated, the\n"
    "whole Sun's flux, the compact sources) to the archive's catalog FILE (SQLite,\n"
    "docs/catalog.md) as it is converted or fails; the shards of a split add to\n"
    "the same FILE. vm-batch --rebuild-catalog FILE ARCHIVE OUTPUT makes FILE's\n"
    "entries anew from OUTPUT's manifests and scan files, converting nothing.\n"
    "--site DIR (with --catalog) makes each recording's products (pictures, tables,\n"
    "FITS files) into the quick-look site DIR and brings its pages up to date.\n"
    "--watch (with --catalog and --site) keeps watching ARCHIVE: a recording is\n"
    "converted once its header, marker file and the sample files of every channel\n"
    "its header enables are there and have not changed for the settling time; one\n"
    "line per recording on standard error; SIGTERM or SIGINT stops it after the\n"
    "running conversion (docs/operations.md).";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "vm-batch"};
    BatchOptions options;
    std::string shard, merge, rebuild;
    app.add_option("ARCHIVE", options.archive, "folder tree of recordings")->type_name("FOLDER");
    app.add_option("OUTPUT", options.output, "where the scan files go (created when missing)")->type_name("FOLDER");
    app.add_option("-j,--jobs", options.jobs, "conversions at once (default: one per processor)")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
    app.add_option("--cfg", options.table,
                   "calibration table (default: vm-fits.cfg beside vm-batch, or in the folder above)")
        ->type_name("TABLE");
    app.add_flag("--back", options.back, "repair jumps by back extrapolation (vm-fits's third argument)");
    app.add_option("--shard", shard,
                   "convert only the recordings at positions K, K+N, K+2N... of the sorted list")
        ->type_name("K/N");
    app.add_flag("--dry-run", options.dryRun, "list what would be converted and skipped; change nothing");
    app.add_option("--vm-fits", options.converter,
                   "run this vm-fits program for each recording, as by hand (it finds its own vm-fits.cfg "
                   "and remembers its folders), instead of converting in vm-batch's own processes")
        ->type_name("PATH");
    app.add_option("--catalog", options.catalog, "add each recording's entry to this catalog (SQLite)")
        ->type_name("FILE");
    app.add_option("--rebuild-catalog", rebuild,
                   "make the catalog's entries of ARCHIVE anew from OUTPUT's manifests and scan files; "
                   "nothing is converted")
        ->type_name("FILE");
    std::string site;
    WatchOptions watch;
    bool watching = false;
    app.add_option("--site", site, "make each recording's products into this quick-look site and update its pages")
        ->type_name("DIR");
    app.add_flag("--watch", watching, "keep watching ARCHIVE and convert recordings as they arrive and settle");
    app.add_option("--settle", watch.settleSeconds,
                   "with --watch: seconds a recording's files must stay unchanged (default 5)")
        ->check(CLI::Range(0.0, 86400.0))
        ->type_name("SECONDS");
    app.add_option("--incomplete-after", watch.incompleteSeconds,
                   "with --watch: convert a recording that stays incomplete and unchanged this long as it is "
                   "(default 600)")
        ->check(CLI::Range(0.0, 31536000.0))
        ->type_name("SECONDS");
    app.add_flag("--poll", watch.poll, "with --watch: look at ARCHIVE every second instead of using inotify");
    app.add_option("--frequency", watch.site.frequencies,
                   "with --site: a frequency of the site's daily flux series, GHz (default 1.4, 2.8 and 5.7)")
        ->check(CLI::Range(0.001, 1000.0))
        ->type_name("GHZ");
    app.set_version_flag("--version", VersionLine("vm-batch"), "print the version and exit");
    const CLI::Option* mergeOption =
        app.add_option("--merge-summaries", merge, "merge the shards' summaries and manifests in OUTPUT; nothing else")
            ->type_name("OUTPUT");
    const int parsed = ParseCommandLine(app, argc, argv, kBatchCannotRun, [&] {
        for (const CLI::Option* option : app.get_options())
            if (!merge.empty() && option != mergeOption && option->count() > 0)
                throw CLI::ValidationError("--merge-summaries OUTPUT takes nothing else");
        if (merge.empty() && options.output.empty())
            throw CLI::RequiredError(options.archive.empty() ? "ARCHIVE" : "OUTPUT");
        std::string error;
        if (!shard.empty() && !ParseShard(shard, options.shard, error)) throw CLI::ValidationError(error);
        if (!site.empty() && options.catalog.empty()) throw CLI::ValidationError("--site DIR needs --catalog FILE");
        if (watching && site.empty()) throw CLI::ValidationError("--watch needs --catalog FILE and --site DIR");
        if (watching && (!shard.empty() || options.dryRun))
            throw CLI::ValidationError("--watch does not go with --shard or --dry-run");
        if (!watching && (app.count("--settle") > 0 || app.count("--incomplete-after") > 0 || watch.poll))
            throw CLI::ValidationError("--settle, --incomplete-after and --poll go with --watch");
        if (site.empty() && !watch.site.frequencies.empty()) throw CLI::ValidationError("--frequency goes with --site");
    });
    if (parsed >= 0) return parsed;

    if (!rebuild.empty()) {
        if (!shard.empty() || !options.catalog.empty() || options.dryRun || !options.converter.empty() ||
            !site.empty() || watching) {
            std::fprintf(stderr, "vm-batch: --rebuild-catalog FILE ARCHIVE OUTPUT takes nothing else\n");
            return kBatchCannotRun;
        }
        return RebuildCatalog(rebuild, options.archive, options.output, std::cout, std::cerr);
    }
    if (!merge.empty()) {
        const MergeResult merged = MergeShardResults(merge);
        std::fputs(merged.report.c_str(), stdout);
        if (!merged.error.empty()) std::fprintf(stderr, "vm-batch: %s\n", merged.error.c_str());
        return merged.exitCode;
    }
    CatchStopSignals();
    BatchStreams io{std::cout, std::cerr, isatty(STDERR_FILENO) != 0, TerminalWidth(), &gStopSignal,
                    gWakeFds[0]};
    watch.site.catalog = options.catalog;
    watch.site.site = site;
    const int code = watching         ? RunWatch(options, watch, io)
                     : !site.empty() ? RunBatchWithSite(options, watch.site, io)
                                     : RunBatch(options, io);
    // A stopped run has written its summary: it ends by the signal that stopped it.
    if (gStopSignal != 0) {
        const int signal = gStopSignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return code;
}

// vm-batch: converts every recording of an archive with vm-fits, several at
// once, resumable, with a summary. The work is done in batch/.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "batch/batch_run.h"
#include "batch/merge.h"

int main(int argc, char** argv) {
    CLI::App app{
        "Converts every recording under ARCHIVE with vm-fits into the same folder\n"
        "under OUTPUT, one vm-fits process per recording, several at once. A header\n"
        "is a file whose name does not end in 'p' and that has its marker file beside\n"
        "it (the name with its last character replaced by 'p') or is 1478 bytes long.\n"
        "OUTPUT/vm-batch-manifest.jsonl records what was converted: a second run skips\n"
        "recordings whose inputs and outputs are unchanged. OUTPUT/vm-batch-summary.csv\n"
        "has one row per recording.\n"
        "vm-fits is looked for beside vm-batch, then in the folder above it.\n"
        "Exit codes: 0 all converted or skipped, 1 some failed, 2 bad usage or the run\n"
        "could not start (unreadable ARCHIVE, no vm-fits, no calibration table).\n"
        "vm-batch --merge-summaries OUTPUT, after a run in shards, merges the shards'\n"
        "summaries and manifests into OUTPUT/vm-batch-summary.csv and\n"
        "vm-batch-manifest.jsonl (exit 1 when a recording is not converted or a\n"
        "shard's summary is missing).",
        "vm-batch"};
    BatchOptions options;
    std::string shard, merge;
    app.add_option("ARCHIVE", options.archive, "folder tree of recordings")->type_name("FOLDER");
    app.add_option("OUTPUT", options.output, "where the scan files go (created when missing)")
        ->type_name("FOLDER");
    app.add_option("-j,--jobs", options.jobs, "conversions at once (default: one per processor)")
        ->check(CLI::Range(1, 1024))
        ->type_name("N");
    app.add_option("--cfg", options.table,
                   "calibration table (default: vm-fits.cfg beside the vm-fits that is run)")
        ->type_name("TABLE");
    app.add_flag("--back", options.back, "repair jumps by back extrapolation (vm-fits's third argument)");
    app.add_option("--shard", shard,
                   "convert only the recordings at positions K, K+N, K+2N... of the sorted list")
        ->type_name("K/N");
    app.add_flag("--dry-run", options.dryRun, "list what would be converted and skipped; change nothing");
    app.add_option("--vm-fits", options.converter, "the vm-fits program to run")->type_name("PATH");
    const CLI::Option* mergeOption = app.add_option("--merge-summaries", merge, "merge the shards' summaries and manifests in OUTPUT; nothing else")
        ->type_name("OUTPUT");
    try {
        app.parse(argc, argv);
        for (const CLI::Option* option : app.get_options())
            if (!merge.empty() && option != mergeOption && option->count() > 0)
                throw CLI::ValidationError("--merge-summaries OUTPUT takes nothing else");
        if (merge.empty() && options.output.empty())
            throw CLI::RequiredError(options.archive.empty() ? "ARCHIVE" : "OUTPUT");
        std::string error;
        if (!shard.empty() && !ParseShard(shard, options.shard, error)) throw CLI::ValidationError(error);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vm-batch: %s\n(see vm-batch --help)\n", e.what());
        return kBatchCannotRun;
    }
    if (!merge.empty()) {
        const MergeResult merged = MergeShardResults(merge);
        std::fputs(merged.report.c_str(), stdout);
        if (!merged.error.empty()) std::fprintf(stderr, "vm-batch: %s\n", merged.error.c_str());
        return merged.exitCode;
    }
    return RunBatch(options);
}

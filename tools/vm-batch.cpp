// vm-batch: converts every recording of an archive with vm-fits, several at
// once, resumable, with a summary. The work is done in batch/.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>

#include "batch/batch_run.h"

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
        "could not start (unreadable ARCHIVE, no vm-fits, no calibration table).",
        "vm-batch"};
    BatchOptions options;
    std::string shard;
    app.add_option("ARCHIVE", options.archive, "folder tree of recordings")->required()->type_name("FOLDER");
    app.add_option("OUTPUT", options.output, "where the scan files go (created when missing)")
        ->required()
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
    try {
        app.parse(argc, argv);
        std::string error;
        if (!shard.empty() && !ParseShard(shard, options.shard, error)) throw CLI::ValidationError(error);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "vm-batch: %s\n(see vm-batch --help)\n", e.what());
        return kBatchCannotRun;
    }
    return RunBatch(options);
}

// One batch run: find the recordings of an archive, convert each in a child
// process of its own into the mirrored folder of the output folder, keep the
// manifest, write the summary and report.
#pragma once

#include <csignal>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/plan.h"
#include "batch/runner.h"
#include "batch/summary.h"
#include "batch/warnings.h"
#include "catalog/catalog.h"

struct BatchOptions {
    std::string archive;
    std::string output;
    int jobs = 0;           // conversions at once; 0: one per processor
    std::string table;      // --cfg; "" for vm-fits.cfg beside vm-batch or in the folder above
    bool back = false;      // repair by back extrapolation (vm-fits's third argument)
    Shard shard;
    bool dryRun = false;
    // --vm-fits: run this program for each recording, as by hand, instead of
    // converting in a child of vm-batch ("" for that); it finds its own
    // vm-fits.cfg and remembers its folders as it always does.
    std::string converter;
    // --catalog: each recording's entry goes into this catalog ("" for none);
    // the shards of a split all add to the same one.
    std::string catalog;
    // How a recording's entry goes into the open catalog: AddCatalogEntry
    // when empty; the site's route makes the recording's products from the
    // same calibration as its entry.
    std::function<bool(Catalog&, const CatalogInput&, std::string& error)> enter;
    // A run over part of the archive (a pass of the watch): recordings to
    // convert, or that cannot be converted, for which `select` is false are
    // left out as if absent; skipped ones always count. Empty: all.
    std::function<bool(const Recording&)> select;
    // When set, the run's summary rows go here instead of into the summary
    // file and the final table.
    std::vector<SummaryRow>* rows = nullptr;
};

// Where a run reports, and how it is stopped: a signal handler at the edge
// (vm-batch's main) sets `*stop` and writes a byte to `wakeFd`.
struct BatchStreams {
    std::ostream& out;   // the final table, the dry-run listing
    std::ostream& err;   // progress and errors
    bool errIsTerminal = false;
    int terminalWidth = 80;
    const volatile std::sig_atomic_t* stop = nullptr;
    int wakeFd = -1;
    // A pass of the watch: a log line per recording ("converted PATH (...)")
    // and no counts; a stop lets running conversions finish.
    bool watching = false;
};

// Exit codes of vm-batch.
constexpr int kBatchAllDone = 0;     // every recording converted or skipped (warnings or not)
constexpr int kBatchSomeFailed = 1;  // at least one failed
constexpr int kBatchCannotRun = 2;   // bad usage, or the run could not start

// The table a run converts with when --cfg is not given: the one the program
// given with --vm-fits finds, else the one vm-batch (at `selfPath`) finds, by
// DefaultCalibrationTablePath (vm-fits.cfg beside the program, or in the
// folder above it). False with a message naming where it looked.
bool FindDefaultTable(const std::string& converter, const std::string& selfPath, std::string& table,
                      std::string& error);

// What one conversion came to, from how its child ended and what it said
// (`said`: a --vm-fits program's SplitConverterOutput, a child of vm-batch's
// ReadChildReport): converted when it ended with 1, all it said arrived and
// its scan index and scan files were found (`collected`; else `missing` says
// what is not there), whatever it warned of; `reason` is the message of the
// summary row, `status` the last status line it gave.
struct ConversionVerdict {
    bool converted = false;
    std::string reason;
    std::string status;
    std::vector<ConverterWarning> warnings;
};
ConversionVerdict JudgeConversion(const ChildResult& result, ConverterOutput said, bool collected,
                                  const std::string& missing);

// Processors this process may run on.
int ProcessorCount();

// Runs the batch and returns its exit code; an interrupted run (`*io.stop`
// set) still writes its summary and returns.
int RunBatch(const BatchOptions& options, BatchStreams& io);

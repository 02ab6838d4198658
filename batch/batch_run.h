// One batch run: find the recordings of an archive, convert each with its own
// vm-fits process into the mirrored folder of the output folder, keep the
// manifest, write the summary and report.
#pragma once

#include <string>
#include <vector>

#include "batch/plan.h"
#include "batch/runner.h"
#include "batch/warnings.h"

struct BatchOptions {
    std::string archive;
    std::string output;
    int jobs = 0;           // conversions at once; 0: one per processor
    std::string table;      // --cfg; "" for the vm-fits.cfg beside vm-fits
    bool back = false;      // pass vm-fits its third argument
    Shard shard;
    bool dryRun = false;
    std::string converter;  // --vm-fits; "" to look beside vm-batch
};

// Exit codes of vm-batch.
constexpr int kBatchAllDone = 0;     // every recording converted or skipped (warnings or not)
constexpr int kBatchSomeFailed = 1;  // at least one failed
constexpr int kBatchCannotRun = 2;   // bad usage, or the run could not start

// The vm-fits to run: `explicitPath` when given; otherwise "vm-fits" in the
// folder of `selfPath` (vm-batch itself), else in the folder above it. False
// with a message naming where it looked.
bool FindConverter(const std::string& explicitPath, const std::string& selfPath,
                   std::string& converter, std::string& error);

// What one vm-fits run came to: converted when it exited with 1 and its scan
// index and scan files were found (`collected`; else `missing` says what is
// not there), whatever it warned of; `reason` is the message of the summary
// row, `status` the last line vm-fits printed that is not a warning.
struct ConversionVerdict {
    bool converted = false;
    std::string reason;
    std::string status;
    std::vector<ConverterWarning> warnings;
};
ConversionVerdict JudgeConversion(const ChildResult& result, bool collected, const std::string& missing);

// Processors this process may run on.
int ProcessorCount();

// Runs the batch and returns its exit code. The final table goes to standard
// output, progress and errors to standard error.
int RunBatch(const BatchOptions& options);

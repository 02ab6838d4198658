// After an archive was converted in shards (--shard K/N, one job each): the
// shards' summaries and manifests merged into the pair a whole run writes,
// OUTPUT/vm-batch-summary.csv and OUTPUT/vm-batch-manifest.jsonl.
#pragma once

#include <string>
#include <vector>

// The records of a CSV text (a quoted field may hold line breaks), each
// without its line feed, and the fields of one record with their quotes removed.
std::vector<std::string> CsvRecords(const std::string& text);
std::vector<std::string> CsvFields(const std::string& record);

struct MergeResult {
    int exitCode = 0;         // 0 all converted or skipped; 1 some not, or a shard's summary missing; 2 cannot merge
    std::string report;       // what was merged, and each recording not converted or skipped with its
                              // status and the reason (message) of its row, for standard output
    std::string error;        // why nothing was merged (exit codes 1 and 2)
};

// Merges the shard summaries of one split, the one of the newest shard
// summary in `outputFolder` (summaries of other splits are left out and
// named). Every shard of that split must have its summary, and all of them
// the same header line; rows are copied as they are, one per recording (the
// newest summary's when a recording is in several), sorted by recording as a
// run sorts them. The manifest is the latest entry of every recording over
// all manifests of the folder. Nothing is merged while a run holds one of the
// folder's manifests, or when a shard's summary is missing.
MergeResult MergeShardResults(const std::string& outputFolder);

// What a batch run does with each recording: convert it, skip it (converted
// before and unchanged), or list it as failed without running vm-fits.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "batch/discovery.h"
#include "batch/manifest.h"

// --shard K/N: the recordings whose position in the sorted list is K modulo N.
struct Shard {
    int index = 0;
    int count = 1;
};
bool ParseShard(const std::string& text, Shard& shard, std::string& error);
inline bool InShard(std::size_t position, const Shard& shard) {
    return position % static_cast<std::size_t>(shard.count) == static_cast<std::size_t>(shard.index);
}

// The scan index name the converter gives a recording when it is started in
// the recording's folder with the header's bare name: the base name from the
// observation date and the scan number from the marker file's name. False
// when the header cannot be read.
bool ScanIndexNameOf(const std::string& headerPath, const std::string& headerName,
                     std::string& indexName);

// Recordings of one folder that the converter would give the same output
// names (same date and scan number) would overwrite each other's files. For
// each such recording after the first of its kind, by position in
// `recordings`, the message that it is not converted. `archive` is the folder
// the recordings' paths are relative to.
std::map<std::size_t, std::string> NameClashes(const std::vector<Recording>& recordings,
                                               const std::string& archive);

enum class Action { Convert, Skip, Fail };

struct Decision {
    Action action = Action::Convert;
    // Convert: why ("new", "al3 changed"); Skip: "unchanged"; Fail: what is wrong.
    std::string reason;
    // A note for the summary row whatever happens ("header is 1000 bytes, not 1478").
    std::string note;
};

// The decision for one recording. `clash` is its NameClashes message, if any;
// `latest` the manifest entries; `table` and `back` what this run converts
// with; `outputFolder` the batch's output folder.
Decision Decide(const Recording& recording, const std::string& clash,
                const std::map<std::string, ManifestEntry>& latest, const TableStamp& table,
                bool back, const std::string& outputFolder);

// The files a finished conversion wrote: the scan index in the recording's
// output folder and every scan file it lists, with their sizes, paths
// relative to `outputFolder`. False with a message when the index or a listed
// scan file is missing.
bool CollectOutputs(const std::string& archive, const Recording& recording,
                    const std::string& outputFolder, std::vector<OutputFile>& outputs,
                    std::string& error);

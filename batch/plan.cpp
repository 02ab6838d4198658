#include "batch/plan.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "convert/channel_loop.h"
#include "convert/channel_plan.h"
#include "inputs/observation_header.h"
#include "output/scan_output.h"
#include "output/scan_reader.h"

namespace {

// K or N of --shard: decimal digits only.
bool ShardNumber(const std::string& text, int& value) {
    long long number = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || !WholeNumber(text, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

}  // namespace

bool ParseShard(const std::string& text, Shard& shard, std::string& error) {
    const std::size_t slash = text.find('/');
    Shard parsed;
    if (slash == std::string::npos || !ShardNumber(text.substr(0, slash), parsed.index) ||
        !ShardNumber(text.substr(slash + 1), parsed.count) || parsed.count < 1 ||
        parsed.index >= parsed.count) {
        error = "--shard wants K/N with 0 <= K < N, not \"" + text + "\"";
        return false;
    }
    shard = parsed;
    return true;
}

bool ScanIndexNameOf(const std::string& headerPath, const std::string& headerName,
                     std::string& indexName) {
    ObservationHeader header;
    if (!ReadObservationHeader(headerPath, header)) return false;
    const SetupBlock& setup = header.setup;
    indexName = ScanIndexName(BaseName(setup.day, setup.month, setup.year),
                              ScanNumberFromPath(MarkerPathOf(headerName), '/'));
    return true;
}

std::map<std::size_t, std::string> NameClashes(const std::vector<Recording>& recordings,
                                               const std::string& archive) {
    std::map<std::size_t, std::string> clashes;
    // Recordings are sorted by path, so those of one folder stand together.
    std::size_t start = 0;
    while (start < recordings.size()) {
        std::size_t end = start + 1;
        while (end < recordings.size() && recordings[end].folder == recordings[start].folder) ++end;
        std::map<std::string, std::size_t> firstWithName;
        for (std::size_t i = start; end - start > 1 && i < end; ++i) {
            const Recording& r = recordings[i];
            std::string indexName;
            if (!r.hasMarker || !ScanIndexNameOf(JoinPath(archive, r.Path()), r.headerName, indexName))
                continue;  // converted by nobody, or fails on its own
            const auto first = firstWithName.emplace(indexName, i);
            if (!first.second)
                clashes[i] = "writes the same files as " + recordings[first.first->second].Path() +
                             " (" + indexName + " and its scan files)";
        }
        start = end;
    }
    return clashes;
}

Decision Decide(const Recording& recording, const std::string& clash,
                const std::map<std::string, ManifestEntry>& latest, const TableStamp& table,
                bool back, const std::string& outputFolder) {
    Decision decision;
    if (recording.headerSize != static_cast<int64_t>(kObservationHeaderSize))
        decision.note = "header is " + std::to_string(recording.headerSize) + " bytes, not " +
                        std::to_string(kObservationHeaderSize);
    if (!recording.hasMarker) {
        decision.action = Action::Fail;
        decision.reason = "marker file " + MarkerPathOf(recording.headerName) + " is missing";
        return decision;
    }
    if (!clash.empty()) {
        decision.action = Action::Fail;
        decision.reason = clash;
        return decision;
    }
    const auto entry = latest.find(recording.Path());
    if (entry == latest.end()) {
        decision.reason = "new";
        return decision;
    }
    decision.reason = ReasonToConvert(entry->second, recording, table, back, outputFolder);
    if (decision.reason.empty()) {
        decision.action = Action::Skip;
        decision.reason = "unchanged";
    }
    return decision;
}

bool CollectOutputs(const std::string& archive, const Recording& recording,
                    const std::string& outputFolder, std::vector<OutputFile>& outputs,
                    std::string& error) {
    outputs.clear();
    std::string indexName;
    if (!ScanIndexNameOf(JoinPath(archive, recording.Path()), recording.headerName, indexName)) {
        error = "Can't read " + JoinPath(archive, recording.Path()) + " after the conversion";
        return false;
    }
    std::vector<std::string> names{indexName};
    const std::string indexPath = JoinPath(outputFolder, JoinPath(recording.folder, indexName));
    struct stat indexInfo;
    if (stat(indexPath.c_str(), &indexInfo) != 0 || !S_ISREG(indexInfo.st_mode)) {
        error = "vm-fits wrote no scan index " + JoinPath(recording.folder, indexName);
        return false;
    }
    std::vector<ScanIndexEntry> entries;
    if (!ReadScanIndex(indexPath, entries, error)) return false;
    for (const ScanIndexEntry& entry : entries) names.push_back(entry.name);
    for (const std::string& name : names) {
        const std::string relative = JoinPath(recording.folder, name);
        struct stat info;
        if (stat(JoinPath(outputFolder, relative).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            error = "scan file " + relative + " listed in the scan index is missing";
            outputs.clear();
            return false;
        }
        outputs.push_back({relative, static_cast<int64_t>(info.st_size)});
    }
    return true;
}

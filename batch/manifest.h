// The manifest of converted recordings, OUTPUT/vm-batch-manifest.jsonl: one
// JSON object per line, appended whole. A line holds the recording's header
// path (relative to the archive), the size and modification time of every
// input file, the calibration table (with a digest of its bytes) and the
// repair rule it was converted with, vm-fits's exit code, status line and
// warnings, and the files written with their sizes. The last line of a recording counts; a line that does not parse (a
// line torn by a crash) is ignored. A "started" line, written before an
// already recorded recording is converted again, voids its earlier lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "batch/discovery.h"
#include "batch/warnings.h"

struct OutputFile {
    std::string path;  // relative to the output folder
    int64_t size = 0;
};

// The calibration table of a conversion: its full path, size and time, and
// the FileDigest of its bytes ("" on lines written before digests were kept).
struct TableStamp {
    FileStamp file;
    std::string digest;
};
// The same table: the same size and digest wherever it lies; without a
// digest on either side, the same path, size and time.
bool SameTable(const TableStamp& before, const TableStamp& now);

struct ManifestEntry {
    std::string recording;  // header path relative to the archive
    bool started = false;   // a "started" line: the conversion began, nothing more is known
    std::string time;       // UTC, "2024-01-31T12:00:00.123456789Z"
    std::vector<FileStamp> inputs;  // names relative to the recording's folder
    TableStamp table;               // the calibration table given to vm-fits
    bool back = false;              // converted with back extrapolation
    int exitCode = 0;
    std::string status;  // vm-fits's last status line, "" when it printed none
    std::vector<ConverterWarning> warnings;  // what vm-fits warned of; none on older lines
    std::vector<OutputFile> outputs;
};

// Names of the manifest and the summary: OUTPUT/vm-batch-manifest.jsonl and
// vm-batch-summary.csv for a whole run; one pair per shard, named
// vm-batch-manifest-K-of-N.jsonl and vm-batch-summary-K-of-N.csv, when the
// archive is split (so that shards never write into one file).
std::string ManifestFileName(int shardIndex, int shardCount);
std::string SummaryFileName(int shardIndex, int shardCount);

// The current time in the manifest's form.
std::string ManifestTime();

// One line of the manifest, ending in a line feed.
std::string ManifestLine(const ManifestEntry& entry);
// False when `line` is not a complete manifest entry.
bool ParseManifestLine(const std::string& line, ManifestEntry& entry);

// The last entry of each recording over manifest texts. Lines count in
// order of their time; the later text wins a tie. Lines that do not parse and
// a last line without its line feed are ignored.
std::map<std::string, ManifestEntry> LatestEntries(const std::vector<std::string>& texts);

// Reads every manifest of the output folder (all shards' and the whole run's).
// A missing folder or manifest is no error.
bool ReadManifests(const std::string& outputFolder, std::map<std::string, ManifestEntry>& latest,
                   std::string& error);

// Why `entry` no longer stands for the recording: "" when it still does (a
// finished conversion with exit code 1 and a scan index, the same inputs,
// table (SameTable) and repair rule, and every output file in `outputFolder` with its
// recorded size); otherwise a short reason ("al3 changed", "2003/11/s05b03_05z.002 is missing").
std::string ReasonToConvert(const ManifestEntry& entry, const Recording& recording,
                            const TableStamp& table, bool back, const std::string& outputFolder);

// The manifest file a run appends to. Opened for appending, locked against a
// second run with the same file, and ended with a line feed when its last
// line was torn, so that the next line starts afresh.
struct ManifestWriter {
    int fd = -1;
    std::string path;
    int64_t lastSyncNs = 0;
    bool torn = false;  // the file ends in part of a line that could not be removed
};

// The lock is a record lock of this process: closing any other descriptor of
// the file in this process would end it, so read the manifests before.
bool OpenManifest(const std::string& path, ManifestWriter& writer, std::string& error);
// Appends one line with a single write. A line that could not be written
// whole is cut off again, so the file never keeps half a line from us. The
// file is synced to disk at most once a second, and when it is closed.
bool AppendManifestLine(ManifestWriter& writer, const std::string& line, std::string& error);
void CloseManifest(ManifestWriter& writer);

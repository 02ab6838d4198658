#include "batch/merge.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "batch/manifest.h"
#include "batch/summary.h"

namespace {

struct ShardSummary {
    std::string name;
    int index = 0;
    int count = 0;
    int64_t mtimeNs = 0;
};

// "vm-batch-summary-K-of-N.csv" gives K and N; any other name false.
bool ShardOfName(const std::string& name, int& index, int& count) {
    int k = 0, n = 0, used = 0;
    if (std::sscanf(name.c_str(), "vm-batch-summary-%d-of-%d.csv%n", &k, &n, &used) != 2 ||
        used != static_cast<int>(name.size()) || k < 0 || n < 2 || k >= n)
        return false;
    index = k;
    count = n;
    return SummaryFileName(k, n) == name;  // no leading zeros or signs
}

bool ListFolder(const std::string& folder, std::vector<std::string>& names, std::string& error) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = "Can't read " + folder + ": " + std::strerror(errno);
        return false;
    }
    while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
    closedir(dir);
    return true;
}

// The manifest a run still holds: its record lock is there.
bool InUse(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

bool ReadText(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    if (in) out << in.rdbuf();
    if (!in || in.bad()) {
        error = "Can't read " + path + ": " + std::strerror(errno);
        return false;
    }
    text = out.str();
    return true;
}

int ColumnOf(const std::vector<std::string>& header, const char* name) {
    for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return static_cast<int>(i);
    return -1;
}

MergeResult Refuse(int exitCode, const std::string& error) {
    MergeResult result;
    result.exitCode = exitCode;
    result.error = error;
    return result;
}

}  // namespace

std::vector<std::string> CsvRecords(const std::string& text) {
    std::vector<std::string> records;
    std::string record;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;  // a doubled quote toggles twice
        if (c == '\n' && !quoted) {
            records.push_back(std::move(record));
            record.clear();
        } else {
            record += c;
        }
    }
    if (!record.empty()) records.push_back(std::move(record));
    return records;
}

std::vector<std::string> CsvFields(const std::string& record) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted && c == '"' && i + 1 < record.size() && record[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

namespace {

// The shard summaries of the newest summary's split, in shard order; the
// names of summaries of other splits in `others`. False with the refusal.
bool FindSplit(const std::string& folder, const std::vector<std::string>& names,
               std::vector<ShardSummary>& shards, std::string& others, MergeResult& refusal) {
    std::vector<ShardSummary> summaries;
    for (const std::string& name : names) {
        ShardSummary s;
        struct stat info;
        if (!ShardOfName(name, s.index, s.count) || stat((folder + "/" + name).c_str(), &info) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        s.name = name;
        s.mtimeNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        summaries.push_back(s);
    }
    const auto newest = std::max_element(summaries.begin(), summaries.end(),
                                         [](const ShardSummary& a, const ShardSummary& b) { return a.mtimeNs < b.mtimeNs; });
    if (newest == summaries.end()) {
        refusal = Refuse(2, "no shard summaries (vm-batch-summary-K-of-N.csv) in " + folder);
        return false;
    }
    const int count = newest->count;
    shards.assign(static_cast<std::size_t>(count), ShardSummary());
    for (const ShardSummary& s : summaries) {
        if (s.count == count) shards[static_cast<std::size_t>(s.index)] = s;
        else others += (others.empty() ? "" : ", ") + s.name;
    }
    std::string missing;
    for (int k = 0; k < count; ++k)
        if (shards[static_cast<std::size_t>(k)].name.empty())
            missing += (missing.empty() ? "" : ", ") + SummaryFileName(k, count);
    if (!missing.empty()) {
        refusal = Refuse(1, "the split into " + std::to_string(count) + " shards is not complete: " + missing +
                                " missing (a shard that never finished: submit it again)");
        return false;
    }
    for (const std::string& name : names) {
        if (name.rfind("vm-batch-manifest", 0) == 0 && InUse(folder + "/" + name)) {
            refusal = Refuse(2, folder + "/" + name + " is in use by a vm-batch run: merge when it has ended");
            return false;
        }
    }
    return true;
}

// One row per recording, the newest summary's.
struct MergedRow {
    std::string record;
    std::string status;
    std::string message;  // why it was not converted, as the shard's summary says
    int64_t mtimeNs = 0;
};

// The rows of every shard summary, which must all have one header line.
bool MergeRows(const std::string& folder, const std::vector<ShardSummary>& shards, std::string& header,
               std::map<std::string, MergedRow>& rows, std::string& error) {
    int recordingColumn = -1, statusColumn = -1, messageColumn = -1;
    for (const ShardSummary& s : shards) {
        const std::string path = folder + "/" + s.name;
        std::string text;
        if (!ReadText(path, text, error)) return false;
        const std::vector<std::string> records = CsvRecords(text);
        if (records.empty()) {
            error = path + " is empty";
            return false;
        }
        if (header.empty()) {
            header = records[0];
            const std::vector<std::string> columns = CsvFields(header);
            recordingColumn = ColumnOf(columns, "recording");
            statusColumn = ColumnOf(columns, "status");
            messageColumn = ColumnOf(columns, "message");  // none: the reasons are not known
            if (recordingColumn < 0 || statusColumn < 0) {
                error = path + " has no recording and status columns: " + header;
                return false;
            }
        } else if (records[0] != header) {
            error = path + " has the header \"" + records[0] + "\", " + shards[0].name + " \"" + header + "\"";
            return false;
        }
        for (std::size_t i = 1; i < records.size(); ++i) {
            const std::vector<std::string> fields = CsvFields(records[i]);
            if (static_cast<int>(fields.size()) <= std::max(recordingColumn, statusColumn)) {
                error = path + ": record " + std::to_string(i + 1) + " is short: " + records[i];
                return false;
            }
            MergedRow& row = rows[fields[static_cast<std::size_t>(recordingColumn)]];
            const std::string message =
                messageColumn >= 0 && static_cast<std::size_t>(messageColumn) < fields.size()
                    ? fields[static_cast<std::size_t>(messageColumn)]
                    : std::string();
            if (row.record.empty() || s.mtimeNs > row.mtimeNs)
                row = MergedRow{records[i], fields[static_cast<std::size_t>(statusColumn)], message, s.mtimeNs};
        }
    }
    return true;
}

// The latest entry of every recording over all manifests of the folder, as
// the whole run's manifest: read before its file is locked (the lock is this
// process's). Returns the number of entries, or -1 with `error`.
long WriteMergedManifest(const std::string& folder, const std::string& path, std::string& error) {
    std::map<std::string, ManifestEntry> latest;
    if (!ReadManifests(folder, latest, error)) return -1;
    std::string text;
    for (const auto& [recording, entry] : latest) text += ManifestLine(entry);
    ManifestWriter lock;
    if (!OpenManifest(path, lock, error)) return -1;
    const bool written = WriteFileWhole(path, text, error);
    CloseManifest(lock);
    return written ? static_cast<long>(latest.size()) : -1;
}

}  // namespace

MergeResult MergeShardResults(const std::string& outputFolder) {
    std::string error, others, header;
    std::vector<std::string> names;
    if (!ListFolder(outputFolder, names, error)) return Refuse(2, error);
    std::vector<ShardSummary> shards;
    MergeResult refusal;
    if (!FindSplit(outputFolder, names, shards, others, refusal)) return refusal;
    std::map<std::string, MergedRow> rows;
    if (!MergeRows(outputFolder, shards, header, rows, error)) return Refuse(2, error);
    const std::string manifestPath = outputFolder + "/" + ManifestFileName(0, 1);
    const long entries = WriteMergedManifest(outputFolder, manifestPath, error);
    if (entries < 0) return Refuse(2, error);

    std::string summaryText = header + "\n", notDone;
    std::map<std::string, std::size_t> statuses;
    for (const auto& [recording, row] : rows) {
        summaryText += row.record + "\n";
        ++statuses[row.status];
        if (row.status != "converted" && row.status != "skipped")
            notDone += "  " + row.status + " " + recording + (row.message.empty() ? "" : ": " + row.message) + "\n";
    }
    const std::string summaryPath = outputFolder + "/" + SummaryFileName(0, 1);
    if (!WriteFileWhole(summaryPath, summaryText, error)) return Refuse(2, error);

    const std::string count = std::to_string(shards.size());
    MergeResult result;
    result.report = "merged the summaries of " + count + " shards (vm-batch-summary-K-of-" + count + ".csv): " +
                    std::to_string(rows.size()) + " recordings";
    for (const auto& [status, n] : statuses) result.report += ", " + std::to_string(n) + " " + status;
    result.report += "\n  into " + summaryPath + "\n  and " + std::to_string(entries) + " manifest entries into " +
                     manifestPath + "\n";
    if (!others.empty()) result.report += "left out, of another split: " + others + "\n";
    if (!notDone.empty()) result.report += "not converted:\n" + notDone;
    result.exitCode = notDone.empty() ? 0 : 1;
    return result;
}

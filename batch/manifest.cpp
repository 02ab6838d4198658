#include "batch/manifest.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "json/json.h"

namespace {

const char* const kManifestStem = "vm-batch-manifest";
const char* const kManifestExtension = ".jsonl";

std::string ShardSuffix(int shardIndex, int shardCount) {
    if (shardCount <= 1) return std::string();
    return "-" + std::to_string(shardIndex) + "-of-" + std::to_string(shardCount);
}

int64_t NowNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A text member of an object (bytes as they were, see JsonText).
bool Text(const Json& object, const char* key, std::string& out) {
    const auto v = object.find(key);
    if (v == object.end() || !v->is_string()) return false;
    out = BytesOfJsonText(v->get<std::string>());
    return true;
}

bool Whole(const Json& object, const char* key, int64_t& out) {
    const auto v = object.find(key);
    if (v == object.end() || !v->is_number_integer()) return false;
    out = v->get<int64_t>();
    return true;
}

bool Stamp(const Json& object, const char* nameKey, FileStamp& stamp) {
    return object.is_object() && Text(object, nameKey, stamp.name) && Whole(object, "size", stamp.size) &&
           Whole(object, "mtime_ns", stamp.mtimeNs);
}

Json StampJson(const char* nameKey, const FileStamp& stamp) {
    Json json;
    json[nameKey] = JsonText(stamp.name);
    json["size"] = stamp.size;
    json["mtime_ns"] = stamp.mtimeNs;
    return json;
}

const char* const kDigestKey = "fnv1a64";

// The table's stamp; its digest is optional (older lines have none).
bool Table(const Json& object, TableStamp& table) {
    if (!Stamp(object, "path", table.file)) return false;
    return !object.contains(kDigestKey) || Text(object, kDigestKey, table.digest);
}

// The warnings of a line; none on older lines.
bool Warnings(const Json& object, std::vector<ConverterWarning>& warnings) {
    const auto list = object.find("warnings");
    if (list == object.end()) return true;
    if (!list->is_array()) return false;
    for (const Json& item : *list) {
        ConverterWarning warning;
        if (!item.is_object() || !Text(item, "id", warning.id) || !Text(item, "message", warning.message))
            return false;
        warnings.push_back(std::move(warning));
    }
    return true;
}

// The members of a finished line after its state.
bool FinishedEntry(const Json& value, ManifestEntry& entry) {
    const auto inputs = value.find("inputs"), table = value.find("table"), back = value.find("back"),
               outputs = value.find("outputs");
    int64_t exitCode = 0;
    if (inputs == value.end() || !inputs->is_array() || table == value.end() || !Table(*table, entry.table) ||
        back == value.end() || !back->is_boolean() || !Whole(value, "exit_code", exitCode) ||
        !Text(value, "status", entry.status) || !Warnings(value, entry.warnings) || outputs == value.end() ||
        !outputs->is_array())
        return false;
    entry.back = back->get<bool>();
    entry.exitCode = static_cast<int>(exitCode);
    for (const Json& item : *inputs) {
        FileStamp stamp;
        if (!Stamp(item, "name", stamp)) return false;
        entry.inputs.push_back(stamp);
    }
    for (const Json& item : *outputs) {
        OutputFile file;
        if (!item.is_object() || !Text(item, "path", file.path) || !Whole(item, "size", file.size)) return false;
        entry.outputs.push_back(file);
    }
    return true;
}

// The last entry of each recording in one text, by line order.
std::map<std::string, ManifestEntry> EntriesOfText(const std::string& text) {
    std::map<std::string, ManifestEntry> latest;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) break;  // a last line without its line feed is torn
        ManifestEntry entry;
        if (ParseManifestLine(text.substr(start, end - start), entry))
            latest[entry.recording] = std::move(entry);
        start = end + 1;
    }
    return latest;
}

bool ReadWhole(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Can't read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

}  // namespace

std::string ManifestFileName(int shardIndex, int shardCount) {
    return kManifestStem + ShardSuffix(shardIndex, shardCount) + kManifestExtension;
}

std::string SummaryFileName(int shardIndex, int shardCount) {
    return "vm-batch-summary" + ShardSuffix(shardIndex, shardCount) + ".csv";
}

std::string ManifestTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%09ldZ", static_cast<long>(now.tv_nsec));
    return text;
}

std::string ManifestLine(const ManifestEntry& entry) {
    Json line;
    line["recording"] = JsonText(entry.recording);
    line["state"] = entry.started ? "started" : "finished";
    line["time"] = entry.time;
    if (!entry.started) {
        line["inputs"] = Json::array();
        for (const FileStamp& input : entry.inputs) line["inputs"].push_back(StampJson("name", input));
        line["table"] = StampJson("path", entry.table.file);
        if (!entry.table.digest.empty()) line["table"][kDigestKey] = entry.table.digest;
        line["back"] = entry.back;
        line["exit_code"] = entry.exitCode;
        line["status"] = JsonText(entry.status);
        line["warnings"] = Json::array();
        for (const ConverterWarning& warning : entry.warnings)
            line["warnings"].push_back({{"id", JsonText(warning.id)}, {"message", JsonText(warning.message)}});
        line["outputs"] = Json::array();
        for (const OutputFile& output : entry.outputs)
            line["outputs"].push_back({{"path", JsonText(output.path)}, {"size", output.size}});
    }
    return JsonDump(line) + "\n";
}

bool ParseManifestLine(const std::string& text, ManifestEntry& entry) {
    Json value;
    std::string error, state;
    if (!ParseJson(text, value, error) || !value.is_object()) return false;
    entry = ManifestEntry();
    if (!Text(value, "recording", entry.recording) || entry.recording.empty() || !Text(value, "state", state) ||
        !Text(value, "time", entry.time))
        return false;
    if (state == "started") {
        entry.started = true;
        return true;
    }
    return state == "finished" && FinishedEntry(value, entry);
}

std::map<std::string, ManifestEntry> LatestEntries(const std::vector<std::string>& texts) {
    std::map<std::string, ManifestEntry> latest;
    for (const std::string& text : texts) {
        for (auto& [recording, entry] : EntriesOfText(text)) {
            const auto known = latest.find(recording);
            if (known == latest.end()) {
                latest.emplace(recording, std::move(entry));
            } else if (entry.time >= known->second.time) {
                known->second = std::move(entry);
            }
        }
    }
    return latest;
}

bool ReadManifests(const std::string& outputFolder, std::map<std::string, ManifestEntry>& latest,
                   std::string& error) {
    latest.clear();
    DIR* dir = opendir(outputFolder.c_str());
    if (!dir) {
        if (errno == ENOENT) return true;
        error = "Can't read " + outputFolder + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const std::string extension = kManifestExtension;
        if (name.rfind(kManifestStem, 0) == 0 && name.size() > extension.size() &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<std::string> texts;
    for (const std::string& name : names) {
        std::string text;
        if (!ReadWhole(outputFolder + "/" + name, text, error)) return false;
        texts.push_back(std::move(text));
    }
    latest = LatestEntries(texts);
    return true;
}

bool SameTable(const TableStamp& before, const TableStamp& now) {
    if (before.digest.empty() || now.digest.empty()) return before.file == now.file;
    return before.file.size == now.file.size && before.digest == now.digest;
}

std::string ReasonToConvert(const ManifestEntry& entry, const Recording& recording,
                            const TableStamp& table, bool back, const std::string& outputFolder) {
    if (entry.started) return "its last conversion did not finish";
    // A conversion counts when vm-fits reported success and its scan index was found.
    if (entry.exitCode != 1 || entry.outputs.empty()) return "it failed last time";
    if (entry.back != back) return "the repair rule changed";
    if (!SameTable(entry.table, table)) return "the calibration table changed";
    for (const FileStamp& now : recording.inputs) {
        const auto before = std::find_if(entry.inputs.begin(), entry.inputs.end(),
                                         [&](const FileStamp& s) { return s.name == now.name; });
        if (before == entry.inputs.end()) return now.name + " is new";
        if (*before != now) return now.name + " changed";
    }
    for (const FileStamp& before : entry.inputs) {
        const auto now = std::find_if(recording.inputs.begin(), recording.inputs.end(),
                                      [&](const FileStamp& s) { return s.name == before.name; });
        if (now == recording.inputs.end()) return before.name + " is gone";
    }
    for (const OutputFile& file : entry.outputs) {
        struct stat info;
        if (stat((outputFolder + "/" + file.path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return file.path + " is missing";
        if (static_cast<int64_t>(info.st_size) != file.size) return file.path + " changed size";
    }
    return std::string();
}

bool OpenManifest(const std::string& path, ManifestWriter& writer, std::string& error) {
    writer = ManifestWriter();
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "Can't open " + path + ": " + std::strerror(errno);
        return false;
    }
    // A record lock belongs to this process alone: the conversions it starts
    // never hold it, so it ends the moment the batch ends, however it ends.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_SETLK, &lock) != 0) {
        error = errno == EACCES || errno == EAGAIN ? path + " is in use by another vm-batch run"
                                                   : "Can't lock " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    struct stat info;
    char last = '\n';
    if (fstat(fd, &info) != 0 || (info.st_size > 0 && pread(fd, &last, 1, info.st_size - 1) != 1)) {
        error = "Can't read " + path + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    writer.fd = fd;
    writer.path = path;
    writer.lastSyncNs = NowNs(CLOCK_MONOTONIC);
    // A torn last line stays on a line of its own, where it is ignored.
    if (last != '\n' && !AppendManifestLine(writer, "\n", error)) {
        CloseManifest(writer);
        return false;
    }
    return true;
}

bool AppendManifestLine(ManifestWriter& writer, const std::string& line, std::string& error) {
    struct stat info;
    if (fstat(writer.fd, &info) != 0) {
        error = "Can't write " + writer.path + ": " + std::strerror(errno);
        return false;
    }
    // After a line that could not be cut off again, the next one starts afresh.
    const std::string text = writer.torn ? "\n" + line : line;
    ssize_t written;
    do {
        written = write(writer.fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(text.size())) {
        const int cause = written < 0 ? errno : ENOSPC;
        if (written > 0) writer.torn = ftruncate(writer.fd, info.st_size) != 0;
        error = "Can't write " + writer.path + ": " + std::strerror(cause);
        return false;
    }
    writer.torn = false;
    const int64_t now = NowNs(CLOCK_MONOTONIC);
    if (now - writer.lastSyncNs >= 1000000000) {
        fdatasync(writer.fd);
        writer.lastSyncNs = now;
    }
    return true;
}

void CloseManifest(ManifestWriter& writer) {
    if (writer.fd >= 0) {
        fdatasync(writer.fd);
        close(writer.fd);
    }
    writer.fd = -1;
}

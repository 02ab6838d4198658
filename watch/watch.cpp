#include "watch/watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "batch/manifest.h"
#include "batch/summary.h"
#include "inputs/observation_header.h"
#include "scan/fits_export.h"
#include "site/products.h"

namespace fs = std::filesystem;

Completeness RecordingCompleteness(const std::string& archive, const Recording& recording) {
    Completeness c;
    if (!recording.hasMarker) {
        c.missing = "no marker file";
        return c;
    }
    ObservationHeader header;
    if (!ReadObservationHeader(JoinPath(archive, recording.Path()), header)) {
        c.complete = true;
        return c;
    }
    std::set<std::string> present;
    for (const FileStamp& input : recording.inputs) present.insert(input.name);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        if (header.setup.channelEnabled[static_cast<std::size_t>(channel)] == 0) continue;
        for (const char* side : {"al", "ar"}) {
            const std::string name = side + std::to_string(channel);
            if (present.count(name) != 0) continue;
            c.missing += (c.missing.empty() ? "no " : ", ") + name;
        }
    }
    c.complete = c.missing.empty();
    return c;
}

bool HasSettled(const Recording& recording, const Completeness& completeness, double now, double settleSeconds,
                Settling& settling) {
    if (settling.stamps != recording.inputs || settling.since == 0.0) {
        settling.stamps = recording.inputs;
        settling.since = now;
        return false;
    }
    return completeness.complete && now - settling.since >= settleSeconds;
}

bool AlreadyHandled(const ManifestEntry& entry, const Recording& recording, const std::string& outputFolder) {
    if (entry.started || entry.inputs != recording.inputs) return false;
    if (entry.exitCode != 1) return true;  // failed with these very files
    return ReasonToConvert(entry, recording, entry.table, entry.back, outputFolder).empty();
}

bool EnterWithProducts(const std::string& site, Catalog& catalog, const CatalogInput& input, std::string& error) {
    ProductsRequest request;
    request.input = input;
    request.folder = JoinPath(site, RecordingSiteFolder(input.header));
    // The FITS files' DATE, as vm-scan fits gives it.
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch && !EpochInstant(epoch, request.fitsDate)) request.fitsDate.clear();
    CatalogRecording entry;
    std::string productsError;
    const bool made = MakeRecordingProducts(request, entry, productsError);
    if (!AddRecording(catalog, entry, error)) return false;
    if (!made) error = productsError;
    return made;
}

namespace {

bool Stopped(const BatchStreams& io) { return io.stop && *io.stop != 0; }

// Brings the site up to date; a failure is told on the log and kept for the end.
bool UpdateSite(const SiteOptions& site, BatchStreams& io) {
    SiteReport report;
    std::string error;
    if (BuildSite(site, report, error)) return true;
    io.err << "vm-batch: the site " << site.site << " could not be updated: " << error << "\n" << std::flush;
    return false;
}

}  // namespace

int RunBatchWithSite(BatchOptions options, const SiteOptions& site, BatchStreams& io) {
    const std::string folder = site.site;
    options.enter = [folder](Catalog& catalog, const CatalogInput& input, std::string& error) {
        return EnterWithProducts(folder, catalog, input, error);
    };
    const int code = RunBatch(options, io);
    if (code == kBatchCannotRun || options.dryRun) return code;  // a listing changes nothing
    return UpdateSite(site, io) ? code : kBatchSomeFailed;
}

namespace {

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Where the archive's changes are learnt of: inotify on every folder of the
// archive but the output folder, or nothing (fd -1) when it is polled.
struct ChangeWatch {
    int fd = -1;
    std::string skipped;  // the output folder's real path
    std::string failure;  // a folder that could not be watched, and why: then it is polled
};

void WatchFolders(ChangeWatch& watch, const std::string& archive) {
    if (watch.fd < 0) return;
    const uint32_t mask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                          IN_ATTRIB | IN_ONLYDIR;
    const auto add = [&watch, mask](const std::string& folder) {
        if (inotify_add_watch(watch.fd, folder.c_str(), mask) < 0 && watch.failure.empty())
            watch.failure = folder + ": " + std::strerror(errno);
    };
    add(archive);
    std::error_code ec;
    fs::recursive_directory_iterator it(archive, fs::directory_options::skip_permission_denied, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError) || it->is_symlink(typeError)) continue;
        if (it->path().string() == watch.skipped) {
            it.disable_recursion_pending();
            continue;
        }
        add(it->path().string());
    }
}

// Waits up to `seconds` for a change, a stop or the time; true when a new
// folder appeared (its files are then watched too).
bool WaitForChange(ChangeWatch& watch, const BatchStreams& io, double seconds) {
    std::vector<pollfd> fds;
    if (watch.fd >= 0) fds.push_back({watch.fd, POLLIN, 0});
    if (io.wakeFd >= 0) fds.push_back({io.wakeFd, POLLIN, 0});
    const int ms = static_cast<int>(std::max(0.0, seconds) * 1000.0) + 1;
    if (poll(fds.data(), fds.size(), ms) <= 0 || watch.fd < 0 || !(fds[0].revents & POLLIN)) return false;
    bool newFolder = false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = read(watch.fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) newFolder = true;
            if (event->mask & IN_Q_OVERFLOW) newFolder = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return newFolder;
}

SummaryRow RowOfEntry(const ManifestEntry& entry) {
    SummaryRow row;
    row.recording = entry.recording;
    row.exitCode = entry.exitCode;
    row.status = entry.exitCode == 1 ? RowStatus::Converted : RowStatus::Failed;
    row.message = entry.status;
    row.warnings = entry.warnings;
    int scans = static_cast<int>(entry.outputs.size()) - 1;  // the index comes first
    row.scans = std::max(scans, 0);
    return row;
}

std::string RealPathOr(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return fs::absolute(path).lexically_normal().string();
    std::string real = resolved;
    std::free(resolved);
    return real;
}

// What the watch keeps between its looks at the archive.
struct WatchState {
    std::map<std::string, Settling> settling;      // recordings not yet handled
    std::set<std::string> told;                    // the waiting recordings the log has named
    std::map<std::string, SummaryRow> rows;        // the summary, by recording
    // The files each recording had when it was last handed to a pass: not
    // handed again as long as they stay so (a manifest that cannot be
    // written would otherwise bring it back at once).
    std::map<std::string, std::vector<FileStamp>> handed;
};

// One look: which recordings are ready to convert, and in how many seconds
// the next one may be.
std::set<std::string> ReadyRecordings(const std::string& archive, const std::string& output,
                                      const WatchOptions& options, double incompleteAfter, WatchState& state,
                                      BatchStreams& io, double& nextLook) {
    std::set<std::string> ready;
    Discovery found;
    std::string error;
    std::map<std::string, ManifestEntry> latest;
    if (!FindRecordings(archive, output, found, error) || !ReadManifests(output, latest, error)) {
        io.err << "vm-batch: " << error << "\n" << std::flush;
        return ready;
    }
    const double now = SteadySeconds();
    std::set<std::string> seen;
    for (const Recording& r : found.recordings) {
        const std::string path = r.Path();
        seen.insert(path);
        const auto entry = latest.find(path);
        if (entry != latest.end() && AlreadyHandled(entry->second, r, output)) {
            state.settling.erase(path);
            state.told.erase(path);
            if (state.rows.count(path) == 0) state.rows[path] = RowOfEntry(entry->second);
            continue;
        }
        const Completeness completeness = RecordingCompleteness(archive, r);
        Settling& settling = state.settling[path];
        const bool settled = HasSettled(r, completeness, now, options.settleSeconds, settling);
        const double waited = now - settling.since;
        const auto handed = state.handed.find(path);
        if (handed != state.handed.end() && handed->second == r.inputs) continue;
        if (settled) {
            ready.insert(path);
        } else if (!completeness.complete && waited >= incompleteAfter) {
            io.err << "vm-batch: converting " << path << " incomplete (" << completeness.missing << ") after "
                   << static_cast<long>(incompleteAfter) << " s unchanged\n";
            ready.insert(path);
        } else {
            const double due = completeness.complete ? options.settleSeconds : incompleteAfter;
            nextLook = std::min(nextLook, std::max(0.0, due - waited));
            // Said once, when first seen incomplete (its files may come one by one).
            if (!completeness.complete && state.told.insert(path).second)
                io.err << "vm-batch: waiting for " << path << " (" << completeness.missing << ")\n";
        }
    }
    for (auto it = state.settling.begin(); it != state.settling.end();)
        it = seen.count(it->first) ? std::next(it) : state.settling.erase(it);
    io.err << std::flush;
    return ready;
}

// One pass over the ready recordings (and the skipped ones the catalog lacks);
// false when it could not run at all (the table gone, the manifest in use).
bool ConvertReady(const BatchOptions& options, const std::set<std::string>& ready, const SiteOptions& site,
                  WatchState& state, BatchStreams& io) {
    BatchOptions pass = options;
    pass.select = [&ready, &state](const Recording& r) {
        if (ready.count(r.Path()) == 0) return false;
        state.handed[r.Path()] = r.inputs;
        return true;
    };
    std::vector<SummaryRow> rows;
    pass.rows = &rows;
    if (RunBatchWithSite(pass, site, io) == kBatchCannotRun) {
        for (const std::string& path : ready) state.handed.erase(path);  // tried again at the next look
        return false;
    }
    for (const SummaryRow& row : rows) {
        if (row.status == RowStatus::Skipped && state.rows.count(row.recording) != 0) continue;
        if (row.status == RowStatus::Interrupted) continue;  // converted again at the next start
        state.rows[row.recording] = row;
    }
    return true;
}

}  // namespace

int RunWatch(BatchOptions options, const WatchOptions& watch, BatchStreams& io) {
    struct stat info {};
    const bool found = stat(options.archive.c_str(), &info) == 0;
    if (!found || !S_ISDIR(info.st_mode)) {
        const std::string why = found ? "not a folder" : std::strerror(errno);
        io.err << "vm-batch: Can't read " << options.archive << ": " << why << "\n";
        return kBatchCannotRun;
    }
    const std::string archive = RealPathOr(options.archive);
    if (!MakeFolders(options.output, nullptr)) {
        io.err << "vm-batch: Can't create " << options.output << "\n";
        return kBatchCannotRun;
    }
    const std::string output = RealPathOr(options.output);
    io.watching = true;
    options.shard = Shard{};
    options.dryRun = false;

    ChangeWatch changes;
    changes.skipped = output;
    if (!watch.poll) {
        changes.fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (changes.fd < 0)
            io.err << "vm-batch: inotify is not available (" << std::strerror(errno) << "); looking every "
                   << watch.pollSeconds << " s\n";
    }
    WatchFolders(changes, archive);
    io.err << "vm-batch: watching " << options.archive << " (settling time " << watch.settleSeconds << " s)\n"
           << std::flush;

    const double incompleteAfter = std::max(watch.settleSeconds, watch.incompleteSeconds);
    WatchState state;
    bool first = true;
    bool told = false;
    while (!Stopped(io)) {
        // inotify tells of changes; a look every 30 s is a safety net. Where a
        // folder could not be watched (too many folders for the system's
        // limit, say), the archive is polled instead.
        if (!changes.failure.empty() && !told) {
            io.err << "vm-batch: cannot watch " << changes.failure << "; looking every " << watch.pollSeconds
                   << " s\n";
            told = true;
        }
        double nextLook = changes.fd >= 0 && changes.failure.empty() ? 30.0 : watch.pollSeconds;
        const std::set<std::string> ready =
            ReadyRecordings(archive, output, watch, incompleteAfter, state, io, nextLook);
        if (Stopped(io)) break;
        if (!ready.empty() || first) {
            if (ConvertReady(options, ready, watch.site, state, io)) {
                std::vector<SummaryRow> rows;
                for (const auto& entry : state.rows) rows.push_back(entry.second);
                std::string error;
                if (!WriteSummary(JoinPath(output, SummaryFileName(0, 1)), rows, error))
                    io.err << "vm-batch: summary: " << error << "\n" << std::flush;
                first = false;
                continue;  // look again at once: more may have arrived meanwhile
            }
            if (first) {  // it cannot start (no calibration table, say); the pass said why
                if (changes.fd >= 0) close(changes.fd);
                return kBatchCannotRun;
            }
            nextLook = std::max(nextLook, 10.0);  // a pass that could not run is tried again later
        }
        // Changes come in bursts while files are written: look again at most
        // four times a second.
        const double before = SteadySeconds();
        bool newFolder = WaitForChange(changes, io, nextLook);
        const double rest = 0.25 - (SteadySeconds() - before);
        if (rest > 0 && !Stopped(io)) newFolder = WaitForChange(changes, io, rest) || newFolder;
        if (newFolder) WatchFolders(changes, archive);
    }
    if (changes.fd >= 0) close(changes.fd);
    io.err << "vm-batch: stopped watching " << options.archive << "\n" << std::flush;
    return kBatchAllDone;
}

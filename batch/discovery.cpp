#include "batch/discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/channel_plan.h"
#include "inputs/observation_header.h"
#include "inputs/sample_files.h"

namespace {

int64_t ModificationNs(const struct stat& info) {
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

struct Walk {
    dev_t excludedDevice = 0;
    ino_t excludedInode = 0;
    bool haveExcluded = false;
    Discovery* found = nullptr;
};

// Lists `folderFd` (which it closes); recurses into subfolders.
bool WalkFolder(int folderFd, const std::string& relative, Walk& walk, std::string& error) {
    DIR* dir = fdopendir(folderFd);
    if (!dir) {
        error = std::strerror(errno);
        close(folderFd);
        return false;
    }
    FolderListing files;
    std::vector<std::string> subfolders;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (!entry) {
            if (errno != 0) {
                error = std::strerror(errno);
                closedir(dir);
                return false;
            }
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (fstatat(dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (walk.haveExcluded && info.st_dev == walk.excludedDevice &&
                info.st_ino == walk.excludedInode)
                continue;
            subfolders.push_back(name);
            continue;
        }
        // A link counts as the file it leads to; links to folders are not followed.
        if (S_ISLNK(info.st_mode) && fstatat(dirfd(dir), name.c_str(), &info, 0) != 0) continue;
        if (!S_ISREG(info.st_mode)) continue;
        files[name] = FileStamp{name, static_cast<int64_t>(info.st_size), ModificationNs(info)};
    }

    for (const std::string& header : HeadersInFolder(files))
        walk.found->recordings.push_back(RecordingInFolder(relative, header, files));

    std::sort(subfolders.begin(), subfolders.end());
    for (const std::string& name : subfolders) {
        const std::string path = JoinPath(relative, name);
        const int fd = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::string problem;
        if (fd < 0) {
            walk.found->problems.push_back({path, std::string("Can't read folder: ") + std::strerror(errno)});
        } else if (!WalkFolder(fd, path, walk, problem)) {
            walk.found->problems.push_back({path, "Can't read folder: " + problem});
        }
    }
    closedir(dir);
    return true;
}

}  // namespace

bool StampOfFile(const std::string& path, FileStamp& stamp) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    stamp = FileStamp{path, static_cast<int64_t>(info.st_size), ModificationNs(info)};
    return true;
}

bool operator==(const FileStamp& a, const FileStamp& b) {
    return a.name == b.name && a.size == b.size && a.mtimeNs == b.mtimeNs;
}

std::vector<std::string> HeadersInFolder(const FolderListing& files) {
    std::vector<std::string> headers;
    for (const auto& [name, stamp] : files) {
        if (name.empty() || name.back() == 'p') continue;
        if (files.count(MarkerPathOf(name)) != 0 || stamp.size == static_cast<int64_t>(kObservationHeaderSize)) headers.push_back(name);
    }
    return headers;
}

std::string Recording::Path() const { return JoinPath(folder, headerName); }

Recording RecordingInFolder(const std::string& folder, const std::string& headerName,
                            const FolderListing& files) {
    Recording recording;
    recording.folder = folder;
    recording.headerName = headerName;
    const auto header = files.find(headerName);
    if (header != files.end()) {
        recording.headerSize = header->second.size;
        recording.inputs.push_back(header->second);
    }
    const auto marker = files.find(MarkerPathOf(headerName));
    recording.hasMarker = marker != files.end();
    if (recording.hasMarker) recording.inputs.push_back(marker->second);
    for (int c = 0; c < kChannelCount; ++c) {
        for (const SampleFileKind kind : {SampleFileKind::Al, SampleFileKind::Ar}) {
            const auto sample = files.find(SampleFileName(kind, c));
            if (sample != files.end()) recording.inputs.push_back(sample->second);
        }
    }
    return recording;
}

bool FindRecordings(const std::string& archive, const std::string& excluded, Discovery& found,
                    std::string& error) {
    found = Discovery();
    Walk walk;
    walk.found = &found;
    struct stat info;
    if (!excluded.empty() && stat(excluded.c_str(), &info) == 0) {
        walk.haveExcluded = true;
        walk.excludedDevice = info.st_dev;
        walk.excludedInode = info.st_ino;
    }
    const int fd = open(archive.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = "Can't read " + archive + ": " + std::strerror(errno);
        return false;
    }
    std::string problem;
    if (!WalkFolder(fd, "", walk, problem)) {
        error = "Can't read " + archive + ": " + problem;
        return false;
    }
    std::sort(found.recordings.begin(), found.recordings.end(),
              [](const Recording& a, const Recording& b) { return a.Path() < b.Path(); });
    return true;
}

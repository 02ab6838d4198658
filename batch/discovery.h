// Finding the recordings of an archive: every observation header in a tree of
// folders, with the size and modification time of the files it is converted from.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/paths.h"  // JoinPath

// A file's name (or path) with its size and modification time.
struct FileStamp {
    std::string name;
    int64_t size = 0;
    int64_t mtimeNs = 0;  // nanoseconds since 1970
};
bool operator==(const FileStamp& a, const FileStamp& b);
inline bool operator!=(const FileStamp& a, const FileStamp& b) { return !(a == b); }

// The stamp of the regular file at `path` (links followed), named `path`.
// False when there is no such file.
bool StampOfFile(const std::string& path, FileStamp& stamp);

// The regular files of one folder (symbolic links to files included), by name.
using FolderListing = std::map<std::string, FileStamp>;

// The headers of one folder, in name order. A header is a file whose name does
// not end in "p" and that either has its marker file beside it or is exactly
// 1478 bytes long.
std::vector<std::string> HeadersInFolder(const FolderListing& files);

struct Recording {
    std::string folder;      // relative to the archive, '/' between levels; "" for the archive itself
    std::string headerName;  // the header's file name
    int64_t headerSize = 0;
    bool hasMarker = false;
    // The files a conversion reads: the header, the marker file (when there is
    // one) and the sample files al<N>/ar<N> of channels 0 to 63 that exist, in
    // channel order.
    std::vector<FileStamp> inputs;

    // The header path relative to the archive ("2003/11/sun.05h").
    std::string Path() const;
};

// A folder of the archive that could not be read.
struct FolderProblem {
    std::string folder;  // relative to the archive, "" for the archive itself
    std::string message;
};

struct Discovery {
    std::vector<Recording> recordings;  // sorted byte by byte by Path()
    std::vector<FolderProblem> problems;
};

// The recording of header `headerName` in a folder with the listing `files`.
Recording RecordingInFolder(const std::string& folder, const std::string& headerName,
                            const FolderListing& files);

// Walks the folder tree under `archive`. Symbolic links to folders are not
// followed; the folder `excluded` (the output folder, when it lies inside the
// archive; empty for none) is passed over with all it holds. False with a
// message when `archive` itself cannot be read; a subfolder that cannot be
// read is listed in `found.problems` and the walk goes on.
bool FindRecordings(const std::string& archive, const std::string& excluded, Discovery& found,
                    std::string& error);

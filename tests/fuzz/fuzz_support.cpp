#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "fuzz/fuzz_input.h"

namespace fs = std::filesystem;

namespace {

std::string gScratch;

void RemoveScratch() {
    std::error_code error;
    if (!gScratch.empty()) fs::remove_all(gScratch, error);
}

std::string MakeScratch() {
    std::vector<std::string> bases;
    if (access("/dev/shm", W_OK) == 0) bases.push_back("/dev/shm");
    const char* tmp = std::getenv("TMPDIR");
    if (tmp && *tmp) bases.push_back(tmp);
    bases.push_back("/tmp");
    for (const std::string& base : bases) {
        if (base.find('.') != std::string::npos) continue;
        std::string pattern = base + "/vmfits-fuzz-XXXXXX";
        if (mkdtemp(pattern.data())) return pattern;
    }
    FuzzFailure("no folder for the fuzz files");
}

}  // namespace

void FuzzFailure(const std::string& what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

const std::string& FuzzScratchFolder() {
    if (gScratch.empty()) {
        gScratch = MakeScratch();
        std::atexit(RemoveScratch);
    }
    return gScratch;
}

void FuzzWriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) FuzzFailure("cannot create " + path);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) FuzzFailure("cannot write " + path);
}

void FuzzWriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FuzzWriteFile(path, std::string(bytes.begin(), bytes.end()));
}

void FuzzEmptyFolder(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) fs::remove_all(entry.path(), error);
}

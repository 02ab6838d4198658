#include "batch/digest.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

uint64_t Fnv1a64(const void* bytes, std::size_t count, uint64_t hash) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        hash ^= p[i];
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool FileDigest(const std::string& path, std::string& digest, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "Can't read " + path + ": " + std::strerror(errno);
        return false;
    }
    uint64_t hash = Fnv1a64(nullptr, 0);
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) hash = Fnv1a64(buffer, n, hash);
    const bool failed = std::ferror(file) != 0;
    const int cause = errno;
    std::fclose(file);
    if (failed) {
        error = "Can't read " + path + ": " + std::strerror(cause);
        return false;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    digest = text;
    return true;
}

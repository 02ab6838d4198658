// A digest of a file's bytes, to tell whether two files hold the same bytes
// (a calibration table copied elsewhere is the same table): 64-bit FNV-1a,
// written as 16 lower-case hexadecimal digits. Not a defence against files
// made on purpose to collide; together with the size it tells copies apart
// from edited files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

uint64_t Fnv1a64(const void* bytes, std::size_t count, uint64_t hash = 0xcbf29ce484222325ULL);

// The digest of the file at `path`; false with a message naming the file
// when it cannot be read.
bool FileDigest(const std::string& path, std::string& digest, std::string& error);

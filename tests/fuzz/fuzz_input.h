// Taking typed values from the front of a fuzz input. Values past the end of
// the input read as zero, so every input, however short, decodes to something.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "inputs/little_endian.h"

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Left() const { return size_ - at_; }

    // Up to `count` bytes; fewer when the input ends first.
    std::vector<uint8_t> Bytes(std::size_t count) {
        const std::size_t taken = std::min(count, Left());
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + taken);
        at_ += taken;
        return bytes;
    }
    std::vector<uint8_t> Rest() { return Bytes(Left()); }
    std::string Text(std::size_t count) {
        const std::vector<uint8_t> bytes = Bytes(count);
        return std::string(bytes.begin(), bytes.end());
    }

    uint8_t U8() { return Fixed<1>()[0]; }
    uint16_t U16() { return LoadU16(Fixed<2>().data()); }
    int16_t I16() { return LoadI16(Fixed<2>().data()); }
    uint32_t U32() { return LoadU32(Fixed<4>().data()); }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    float F32() { return LoadF32(Fixed<4>().data()); }

private:
    template <std::size_t N>
    std::vector<uint8_t> Fixed() {
        std::vector<uint8_t> bytes = Bytes(N);
        bytes.resize(N, 0);
        return bytes;
    }

    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Little-endian floats of `bytes` (whole floats only).
inline std::vector<float> FloatsOf(const std::vector<uint8_t>& bytes) {
    std::vector<float> values(bytes.size() / 4);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = LoadF32(&bytes[4 * i]);
    return values;
}

// The same bits (NaNs with the same payload compare equal, -0 and +0 do not).
inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A broken invariant: prints what and aborts, so that the fuzzer keeps the input.
[[noreturn]] void FuzzFailure(const std::string& what);
#define FUZZ_CHECK(condition, what)                                  \
    do {                                                             \
        if (!(condition)) FuzzFailure(std::string(#condition) + ": " + (what)); \
    } while (0)

// A private folder for the files a target writes, removed at exit: on
// /dev/shm when it can be used, else in TMPDIR or /tmp. Its path holds no dot
// (the scan number is read after the first dot of a path).
const std::string& FuzzScratchFolder();
// Writes `bytes` to `path`, replacing it; aborts when that fails.
void FuzzWriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void FuzzWriteFile(const std::string& path, const std::string& bytes);
// Removes everything inside `folder` (not the folder itself).
void FuzzEmptyFolder(const std::string& folder);

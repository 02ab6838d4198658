#include "inputs/sample_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "inputs/little_endian.h"

namespace {

// The first read asks for one byte more than the longest file the acquisition
// system writes (32767 bytes), so that such a file is read in one piece and
// its end found by the next read; longer files are read on in pieces that
// double in size.
constexpr std::size_t kFirstPiece = 1 << 15;

// Appends up to `want` bytes read from `file`; true when all of them came.
bool ReadPiece(std::FILE* file, std::size_t want, std::vector<uint8_t>& bytes) {
    const std::size_t start = bytes.size();
    bytes.resize(start + want);
    const std::size_t got = std::fread(bytes.data() + start, 1, want, file);
    bytes.resize(start + got);
    return got == want;
}

}  // namespace

std::string SampleFileName(SampleFileKind kind, int channel) {
    return (kind == SampleFileKind::Al ? "al" : "ar") + std::to_string(channel);
}

bool ReadInputFile(const std::string& path, std::size_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    // Unbuffered: every read goes straight into its place in `bytes`, with no
    // copy through the stream's own buffer. The file is read to its end or
    // to the limit, whichever comes first.
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::size_t piece = kFirstPiece;
    while (bytes.size() < limit && ReadPiece(file, std::min(piece, limit - bytes.size()), bytes))
        piece = std::min(2 * piece, limit);
    const bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    return !readFailed;
}

void TakeSamples(const std::vector<uint8_t>& bytes, std::vector<float>& samples) {
    const std::size_t count = std::min(samples.size(), bytes.size() / 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // On a little-endian machine with IEEE single-precision floats the file's
    // four bytes of a sample are the float's own bytes, so decoding them is a copy.
    static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4, "IEEE binary32 floats");
    if (count > 0) std::memcpy(samples.data(), bytes.data(), 4 * count);
#else
    for (std::size_t i = 0; i < count; ++i) samples[i] = LoadF32(&bytes[4 * i]);
#endif
}

std::vector<int16_t> DecodeMarkers(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> markers(bytes.size() / 2);
    for (std::size_t i = 0; i < markers.size(); ++i)
        markers[i] = LoadI16(&bytes[2 * i]);
    return markers;
}

std::vector<uint8_t> EncodeMarkers(const std::vector<int16_t>& values) {
    std::vector<uint8_t> bytes;
    for (const int16_t value : values) {
        const auto bits = static_cast<uint16_t>(value);
        bytes.push_back(static_cast<uint8_t>(bits & 0xFF));
        bytes.push_back(static_cast<uint8_t>(bits >> 8));
    }
    return bytes;
}

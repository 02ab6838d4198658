// The raw files beside the observation header: the sample files al<N>/ar<N>
// (little-endian 32-bit floats, no header) and the marker file (little-endian
// 16-bit position/tag pairs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sample and marker files are read whole, up to this many bytes, so that
// every count and length fits a signed 32-bit integer.
constexpr std::size_t kLongestInputFile = 0x7FFFFFFC;

// The two sample files of a channel: "al<N>" and "ar<N>", N the channel
// number in decimal without leading zeros, no extension.
enum class SampleFileKind { Al, Ar };
std::string SampleFileName(SampleFileKind kind, int channel);

// Reads up to `limit` bytes of a file. False when it cannot be opened or read.
bool ReadInputFile(const std::string& path, std::size_t limit, std::vector<uint8_t>& bytes);

// Copies the whole floats of `bytes` into the first places of `samples`, as
// many as both hold; places past the end of the file keep their values.
void TakeSamples(const std::vector<uint8_t>& bytes, std::vector<float>& samples);

// The marker list: the marker file's 16-bit values (an odd last byte is ignored).
std::vector<int16_t> DecodeMarkers(const std::vector<uint8_t>& bytes);
// The bytes of a marker file holding these values (position/tag pairs).
std::vector<uint8_t> EncodeMarkers(const std::vector<int16_t>& values);

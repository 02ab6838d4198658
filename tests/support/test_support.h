// Helpers shared by the tests: temporary folders and whole-file access.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ObservationHeader;

// A fresh, empty folder that is removed with everything in it at the end of scope.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    // path() joined with `name` by the platform's folder separator.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// Little-endian bytes of sample and marker files.
std::string FloatBytes(const std::vector<float>& values);
std::string Int16Bytes(const std::vector<int16_t>& values);

// The fields of the tests' usual recording besides its channels: observed on
// 5 November 2003, object "SUN A15", calibration levels at indexes 1, 9 and
// 10, sampling factors 10 and 99, angle P 12.5, PMC 400.5 and its pointing.
void SetUsualRecordingFields(ObservationHeader& header);

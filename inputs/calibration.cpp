#include "inputs/calibration.h"

#include <cmath>
#include <cstdio>

#include "platform/paths.h"
#include "platform/platform.h"

namespace {

constexpr int kEndOfText = 0x1A;  // Ctrl-Z ends a text file
// A row is what one line read into a 127-byte buffer holds: at most 126
// characters, the line feed counting as one of them.
constexpr int kRowBufferSize = 127;

// The table file read as a text file is read on the converter's home system,
// on every platform alike: CR LF becomes LF, and Ctrl-Z ends the text. The end
// flag is set by the read that finds no more characters, as the stream's
// end-of-file flag would be. The text comes from the file or, when `text` is
// set, from memory.
struct TableReader {
    std::FILE* file = nullptr;
    const std::string* text = nullptr;
    std::size_t at = 0;
    bool atEnd = false;

    int Get() {
        if (!text) return std::getc(file);
        return at < text->size() ? static_cast<unsigned char>((*text)[at++]) : EOF;
    }
    void Unget(int c) {
        if (text) --at;
        else std::ungetc(c, file);
    }

    int Next() {
        if (atEnd) return EOF;
        int c = Get();
        if (c == '\r') {
            const int following = Get();
            if (following == '\n') return '\n';
            if (following != EOF) Unget(following);
        }
        if (c == EOF || c == kEndOfText) {
            atEnd = true;
            return EOF;
        }
        return c;
    }

    // Reads the next row into `row` as a line read into the row buffer would:
    // up to 126 characters, ending after the first line feed. When no character
    // is left, `row` keeps its previous text.
    void ReadRow(char (&row)[kRowBufferSize]) {
        char text[kRowBufferSize];
        int length = 0;
        while (length < kRowBufferSize - 1) {
            const int c = Next();
            if (c == EOF) break;
            text[length++] = static_cast<char>(c);
            if (c == '\n') break;
        }
        if (length == 0) return;
        for (int i = 0; i < length; ++i) row[i] = text[i];
        row[length] = '\0';
    }
};

struct CalibrationRow {
    float frequency = 0.0f;
    float fluxFactor = 0.0f;
    float temperature = 0.0f;
    float beamWidth = 0.0f;
};

bool IsFinite(const CalibrationRow& row) {
    return std::isfinite(row.frequency) && std::isfinite(row.fluxFactor) &&
           std::isfinite(row.temperature) && std::isfinite(row.beamWidth);
}

// previous + (current - previous) * t in extended precision.
long double Interpolate(float previous, float current, float t) {
    const long double p = previous;
    return p + (static_cast<long double>(current) - p) * static_cast<long double>(t);
}

}  // namespace

std::string CalibrationTablePath(const std::string& executableFolder) {
    return executableFolder + kFolderSeparator + "vm-fits.cfg";
}

std::vector<std::string> CalibrationTablePlaces(const std::string& programPath) {
    const std::string folder = FolderOfPath(programPath);
    std::vector<std::string> places{CalibrationTablePath(folder)};
    // A program at the root has no folder above its own.
    if (!folder.empty()) places.push_back(CalibrationTablePath(FolderOfPath(folder)));
    return places;
}

std::string DefaultCalibrationTablePath(const std::string& programPath) {
    const std::vector<std::string> places = CalibrationTablePlaces(programPath);
    for (const std::string& place : places)
        if (CountCalibrationRows(place) >= 0) return place;
    return places.front();
}

int CountCalibrationRows(const std::string& tablePath) {
    TableReader reader;
    reader.file = std::fopen(tablePath.c_str(), "rb");
    if (!reader.file) return -1;
    int rows = 0;
    while (!reader.atEnd) {
        char row[kRowBufferSize] = {};
        reader.ReadRow(row);
        float value = 0.0f;
        if (std::sscanf(row, "%f", &value) == 1) ++rows;
    }
    const bool readFailed = std::ferror(reader.file) != 0;
    std::fclose(reader.file);
    return readFailed ? -1 : rows;
}

namespace {

CalibrationLookup FindCalibrationIn(TableReader& reader, float frequency) {
    CalibrationLookup lookup;
    // Rows in falling frequency order: stop at the first row below the
    // requested frequency. Columns a line does not hold keep the values of the
    // row before; before the first row every column is 0.
    CalibrationRow previous;
    CalibrationRow current;
    char row[kRowBufferSize] = {};
    bool found = false;
    while (!reader.atEnd) {
        reader.ReadRow(row);
        std::sscanf(row, "%f %f %f %f", &current.frequency, &current.fluxFactor,
                    &current.temperature, &current.beamWidth);
        if (frequency > current.frequency) {
            found = true;
            break;
        }
        previous = current;
    }
    // A folder opens on some systems but cannot be read: no table.
    if (reader.file) {
        const bool readFailed = std::ferror(reader.file) != 0;
        std::fclose(reader.file);
        if (readFailed) return lookup;
    }
    lookup.lastRowFrequency = current.frequency;
    lookup.result = CalibrationResult::NoRowBelow;
    if (!found) return lookup;

    // Two rows of the same frequency (a first row at frequency 0) enclose
    // nothing, and values that are not finite interpolate to nothing usable.
    lookup.result = CalibrationResult::NotFinite;
    if (!std::isfinite(frequency) || !IsFinite(previous) || !IsFinite(current)) return lookup;
    lookup.result = CalibrationResult::SameFrequencies;
    if (previous.frequency == current.frequency) return lookup;

    const long double previousFrequency = previous.frequency;
    const float t = static_cast<float>(
        (static_cast<long double>(frequency) - previousFrequency) /
        (static_cast<long double>(current.frequency) - previousFrequency));
    const float flux = static_cast<float>(Interpolate(previous.fluxFactor, current.fluxFactor, t));
    const float beam = static_cast<float>(Interpolate(previous.beamWidth, current.beamWidth, t));
    const long double temperature = Interpolate(previous.temperature, current.temperature, t);
    lookup.result = CalibrationResult::NotFinite;
    if (!std::isfinite(t) || !std::isfinite(flux) || !std::isfinite(beam)) return lookup;
    // The temperature is truncated toward zero; one that does not fit the
    // 16-bit TQSUN value yields no values rather than a wrapped one.
    lookup.result = CalibrationResult::TemperatureOutOfRange;
    if (!(temperature > -32769.0L && temperature < 32768.0L)) return lookup;

    lookup.result = CalibrationResult::Found;
    lookup.upperFrequency = previous.frequency;
    lookup.upperBeamWidth = previous.beamWidth;
    lookup.lowerFrequency = current.frequency;
    lookup.lowerBeamWidth = current.beamWidth;
    lookup.values.fluxFactor = flux;
    lookup.values.beamWidth = beam;
    lookup.values.quietSunTemperature = static_cast<int16_t>(static_cast<int32_t>(temperature));
    return lookup;
}

}  // namespace

CalibrationLookup FindCalibration(const std::string& tablePath, float frequency) {
    TableReader reader;
    reader.file = std::fopen(tablePath.c_str(), "rb");
    if (!reader.file) return CalibrationLookup();
    return FindCalibrationIn(reader, frequency);
}

CalibrationLookup FindCalibrationInText(const std::string& tableText, float frequency) {
    TableReader reader;
    reader.text = &tableText;
    return FindCalibrationIn(reader, frequency);
}

void LookupCalibrationInTable(const std::string& tablePath, float frequency, float& fluxFactor,
                              int16_t& quietSunTemperature, float& beamWidth) {
    const CalibrationLookup lookup = FindCalibration(tablePath, frequency);
    if (lookup.result != CalibrationResult::Found) return;
    fluxFactor = lookup.values.fluxFactor;
    beamWidth = lookup.values.beamWidth;
    quietSunTemperature = lookup.values.quietSunTemperature;
}

void LookupCalibration(const std::string& executableFolder, float frequency, float& fluxFactor,
                       int16_t& quietSunTemperature, float& beamWidth) {
    LookupCalibrationInTable(CalibrationTablePath(executableFolder), frequency, fluxFactor,
                             quietSunTemperature, beamWidth);
}

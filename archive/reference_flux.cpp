#include "archive/reference_flux.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "archive/archive_time.h"

namespace {

const char* const kTableColumns[] = {"fluxdate",    "fluxtime",    "fluxjulian", "fluxcarrington",
                                     "fluxobsflux", "fluxadjflux", "fluxursi"};
constexpr std::size_t kTableColumnCount = sizeof kTableColumns / sizeof kTableColumns[0];
constexpr std::size_t kObservedFluxColumn = 4;

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    if (separator == ' ') {
        std::istringstream words(line);
        for (std::string word; words >> word;) fields.push_back(word);
        return fields;
    }
    std::string field;
    std::istringstream stream(line);
    while (std::getline(stream, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.push_back("");
    return fields;
}

std::string Trimmed(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// A whole field as a finite number (the "C" locale's decimal point).
bool Number(const std::string& text, double& value) {
    if (text.empty()) return false;
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    stream >> value;
    return stream && stream.peek() == std::char_traits<char>::eof() && std::isfinite(value);
}

bool IsHeader(const std::vector<std::string>& fields, const char* const* names, std::size_t count) {
    if (fields.size() != count) return false;
    for (std::size_t k = 0; k < count; ++k)
        if (Trimmed(fields[k]) != names[k]) return false;
    return true;
}

bool TableRow(const std::vector<std::string>& fields, ReferenceFlux& row, std::string& what) {
    if (fields.size() != kTableColumnCount) {
        what = std::to_string(fields.size()) + " fields where the header names " + std::to_string(kTableColumnCount);
        return false;
    }
    if (!IsoDayOfCompactDate(fields[0], row.day)) {
        what = "fluxdate '" + fields[0] + "' is not a date YYYYMMDD";
        return false;
    }
    const std::string& t = fields[1];
    double day = 0.0;
    if (t.size() != 6 || !DaysOfTime(row.day + "T" + t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2), day)) {
        what = "fluxtime '" + t + "' is not a time HHMMSS";
        return false;
    }
    row.time = day;
    if (!Number(fields[kObservedFluxColumn], row.flux)) {
        what = "fluxobsflux '" + fields[kObservedFluxColumn] + "' is not a number";
        return false;
    }
    row.frequency = kReferenceTableFrequency;
    return true;
}

bool CsvRow(const std::vector<std::string>& fields, ReferenceFlux& row, std::string& what) {
    if (fields.size() != 3) {
        what = std::to_string(fields.size()) + " fields where the header names 3";
        return false;
    }
    const std::string date = Trimmed(fields[0]);
    if (!DaysOfTime(date, row.time) || (date.size() != 10 && date.size() != 19)) {
        what = "date '" + date + "' is not YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS";
        return false;
    }
    row.day = date.substr(0, 10);
    if (date.size() == 10) row.time += 0.5;
    if (!Number(Trimmed(fields[1]), row.frequency) || !(row.frequency > 0.0)) {
        what = "frequency_ghz '" + Trimmed(fields[1]) + "' is not a frequency above 0";
        return false;
    }
    if (!Number(Trimmed(fields[2]), row.flux)) {
        what = "flux_sfu '" + Trimmed(fields[2]) + "' is not a number";
        return false;
    }
    return true;
}

}  // namespace

bool ParseReferenceFlux(const std::string& text, const std::string& path, std::vector<ReferenceFlux>& rows,
                        std::string& error) {
    rows.clear();
    static const char* const kCsvColumns[] = {"date", "frequency_ghz", "flux_sfu"};
    enum class Form { Unknown, Table, Csv } form = Form::Unknown;
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (form == Form::Unknown) {
            if (IsHeader(Split(trimmed, ' '), kTableColumns, kTableColumnCount)) {
                form = Form::Table;
            } else if (IsHeader(Split(trimmed, ','), kCsvColumns, 3)) {
                form = Form::Csv;
            } else {
                error = where + "the header line is neither '" + std::string("fluxdate fluxtime fluxjulian "
                        "fluxcarrington fluxobsflux fluxadjflux fluxursi") + "' nor 'date,frequency_ghz,flux_sfu'";
                return false;
            }
            continue;
        }
        ReferenceFlux row;
        row.line = number;
        std::string what;
        const bool good = form == Form::Table ? TableRow(Split(trimmed, ' '), row, what)
                                              : CsvRow(Split(trimmed, ','), row, what);
        if (!good) {
            error = where + what;
            return false;
        }
        rows.push_back(row);
    }
    if (form == Form::Unknown) {
        error = path + ": no header line (the file is empty)";
        return false;
    }
    return true;
}

bool ReadReferenceFlux(const std::string& path, std::vector<ReferenceFlux>& rows, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::string text;
    char block[65536];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) text.append(block, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = path + ": cannot be read";
        return false;
    }
    return ParseReferenceFlux(text, path, rows, error);
}

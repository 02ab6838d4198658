#include "batch/summary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// "1:02:03", or "2:03" below an hour.
std::string ClockText(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

const char* StatusName(RowStatus status) {
    // In the order of RowStatus.
    static const char* const kNames[] = {"converted", "failed", "skipped", "interrupted"};
    return kNames[static_cast<int>(status)];
}

std::string CsvField(const std::string& text) {
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string SummaryCsv(const std::vector<SummaryRow>& rows) {
    std::string text = "recording,status,exit_code,scans,message,warnings\n";
    for (const SummaryRow& row : rows) {
        text += CsvField(row.recording) + "," + StatusName(row.status) + "," +
                (row.exitCode >= 0 ? std::to_string(row.exitCode) : std::string()) + "," +
                std::to_string(row.scans) + "," + CsvField(row.message) + "," +
                CsvField(WarningIds(row.warnings)) + "\n";
    }
    return text;
}

bool WriteFileWhole(const std::string& path, const std::string& text, std::string& error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "Can't write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    errno = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    int cause = done == text.size() ? 0 : errno != 0 ? errno : ENOSPC;
    const mode_t mask = umask(0);  // the file gets the permissions any new file would
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    if (cause == 0 && fsync(fd) != 0) cause = errno;
    if (close(fd) != 0 && cause == 0) cause = errno;
    if (cause == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) cause = errno;
    if (cause != 0) {
        error = "Can't write " + path + ": " + std::strerror(cause);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool WriteSummary(const std::string& path, const std::vector<SummaryRow>& rows, std::string& error) {
    return WriteFileWhole(path, SummaryCsv(rows), error);
}

Totals CountRows(const std::vector<SummaryRow>& rows) {
    Totals totals;
    totals.found = rows.size();
    for (const SummaryRow& row : rows) {
        if (!row.warnings.empty()) ++totals.withWarnings;
        if (row.status == RowStatus::Converted) {
            ++totals.converted;
            totals.scansWritten += static_cast<std::size_t>(row.scans);
        } else if (row.status == RowStatus::Skipped) {
            ++totals.skipped;
        } else if (row.status == RowStatus::Interrupted) {
            ++totals.interrupted;
        } else {
            ++totals.failed;
        }
    }
    return totals;
}

std::string Duration(double seconds) {
    if (seconds >= 59.95) return ClockText(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string FinalTable(const std::vector<SummaryRow>& rows, const Totals& totals,
                       const std::vector<std::string>& problems) {
    char line[128];
    std::string text;
    auto count = [&](const char* what, std::size_t n) {
        std::snprintf(line, sizeof line, "%-20s%8zu\n", what, n);
        text += line;
    };
    count("recordings found", totals.found);
    count("converted", totals.converted);
    count("skipped", totals.skipped);
    count("failed", totals.failed);
    count("interrupted", totals.interrupted);
    count("with warnings", totals.withWarnings);
    count("scan files written", totals.scansWritten);
    std::snprintf(line, sizeof line, "%-20s%8s\n", "time taken", Duration(totals.seconds).c_str());
    text += line;
    if (totals.failed > 0) {
        text += "failed recordings:\n";
        for (const SummaryRow& row : rows)
            if (row.status == RowStatus::Failed) text += "  " + row.recording + ": " + row.message + "\n";
    }
    for (const std::string& problem : problems) text += problem + "\n";
    return text;
}

std::string ProgressLine(std::size_t done, std::size_t total, double elapsedSeconds, int width) {
    char counts[64], rate[64];
    const int digits = std::snprintf(nullptr, 0, "%zu", total);
    std::snprintf(counts, sizeof counts, "%*zu/%zu", digits, done, total);
    if (done > 0 && elapsedSeconds > 0) {
        const double perSecond = static_cast<double>(done) / elapsedSeconds;
        const double left = static_cast<double>(total - done) / perSecond;
        std::snprintf(rate, sizeof rate, "  %.1f/s  %s left", perSecond, ClockText(left).c_str());
    } else {
        std::snprintf(rate, sizeof rate, "  -/s  -:-- left");
    }
    const int fixed = static_cast<int>(std::strlen(counts) + std::strlen(rate)) + 3;
    const int bar = width - fixed;
    std::string text = counts;
    if (bar >= 5) {
        const auto filled = total > 0 ? static_cast<int>(static_cast<double>(bar) * done / total) : bar;
        text += " [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(bar - filled), '.') + "]";
    }
    text += rate;
    if (width > 0 && static_cast<int>(text.size()) > width) text.resize(static_cast<std::size_t>(width));
    return text;
}

#include "batch/warnings.h"

#include <algorithm>
#include <cstring>

#include "batch/runner.h"
#include "json/json.h"
#include "platform/platform.h"

bool operator==(const ConverterWarning& a, const ConverterWarning& b) {
    return a.id == b.id && a.message == b.message;
}

bool ParseWarningLine(const std::string& line, ConverterWarning& warning) {
    const std::size_t prefix = std::strlen(kWarningLinePrefix);
    if (line.compare(0, prefix, kWarningLinePrefix) != 0) return false;
    // The id: lower-case letters, digits and dashes, then ": ".
    std::size_t end = prefix;
    while (end < line.size() && ((line[end] >= 'a' && line[end] <= 'z') ||
                                 (line[end] >= '0' && line[end] <= '9') || line[end] == '-'))
        ++end;
    if (end == prefix || line.compare(end, 2, ": ") != 0) return false;
    warning.id = line.substr(prefix, end - prefix);
    warning.message = line.substr(end + 2);
    return true;
}

ConverterOutput SplitConverterOutput(const std::string& output) {
    ConverterOutput split;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        ConverterWarning warning;
        if (ParseWarningLine(line, warning))
            split.warnings.push_back(std::move(warning));
        else
            split.status = std::move(line);
    }
    return split;
}

std::string ReportStatusLine(const std::string& status) {
    return JsonDump(Json{{"status", JsonText(status)}}) + "\n";
}

std::string ReportWarningLine(const RunWarning& warning) {
    Json record;
    record["id"] = WarningName(warning.id);
    record["channel"] = warning.channel == kWholeRecording ? Json(nullptr) : Json(warning.channel);
    record["message"] = JsonText(warning.message);
    return JsonDump(Json{{"warning", record}}) + "\n";
}

std::string ReportEndLine(int exitCode, const std::vector<std::string>& files) {
    Json record;
    record["exit_code"] = exitCode;
    record["files"] = Json::array();
    for (const std::string& file : files) record["files"].push_back(JsonText(file));
    return JsonDump(record) + "\n";
}

namespace {

bool TextOf(const Json& object, const char* key, std::string& text) {
    const auto value = object.find(key);
    if (value == object.end() || !value->is_string()) return false;
    text = BytesOfJsonText(value->get<std::string>());
    return true;
}

// One record of a report into `report`; false when it is not one.
bool ReadReportRecord(const Json& record, ChildReport& report) {
    if (!record.is_object() || record.size() != (record.contains("exit_code") ? 2u : 1u)) return false;
    std::string status;
    if (TextOf(record, "status", status)) {
        if (!status.empty()) report.said.status = std::move(status);
        return true;
    }
    const auto warning = record.find("warning");
    if (warning != record.end()) {
        ConverterWarning said;
        WarningId id;
        if (!warning->is_object() || !TextOf(*warning, "id", said.id) || !WarningIdOfName(said.id, id) ||
            !TextOf(*warning, "message", said.message))
            return false;
        report.said.warnings.push_back(std::move(said));
        return true;
    }
    const auto exitCode = record.find("exit_code"), files = record.find("files");
    if (exitCode == record.end() || !exitCode->is_number_integer() || files == record.end() ||
        !files->is_array())
        return false;
    for (const Json& file : *files) {
        if (!file.is_string()) return false;
        report.files.push_back(BytesOfJsonText(file.get<std::string>()));
    }
    report.exitCode = exitCode->get<int>();
    report.ended = true;
    return true;
}

}  // namespace

ChildReport ReadChildReport(const std::string& text, const std::string& child) {
    ChildReport report;
    std::size_t start = 0;
    // Whole lines only: what follows the last line feed is a line cut short.
    for (std::size_t end; !report.ended && (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        Json record;
        std::string error;
        if (!ParseJson(text.substr(start, end - start), record, error) || !ReadReportRecord(record, report)) {
            report.said.lost = "the conversion's report holds a line that is not one of its records";
            break;
        }
    }
    if (report.said.lost.empty() && !report.ended) report.said.lost = "the conversion ended without its report";
    if (report.ended && text.size() > start)
        report.said.lost = "the conversion's report goes on after its end";
    if (!report.said.lost.empty()) {
        const std::string printed = LastLine(child);
        if (!printed.empty()) report.said.status = printed;
    }
    return report;
}

std::string WarningIds(const std::vector<ConverterWarning>& warnings) {
    std::string ids;
    for (const ConverterWarning& w : warnings) ids += (ids.empty() ? "" : ";") + w.id;
    return ids;
}

std::string WarningCount(const std::vector<ConverterWarning>& warnings) {
    if (warnings.empty()) return std::string();
    std::vector<std::string> ids;
    for (const ConverterWarning& w : warnings)
        if (std::find(ids.begin(), ids.end(), w.id) == ids.end()) ids.push_back(w.id);
    std::string text = std::to_string(warnings.size()) + (warnings.size() == 1 ? " warning: " : " warnings: ");
    for (std::size_t i = 0; i < ids.size(); ++i) text += (i ? ", " : "") + ids[i];
    return text;
}

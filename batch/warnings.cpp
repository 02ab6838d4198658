#include "batch/warnings.h"

#include <algorithm>
#include <cstring>

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

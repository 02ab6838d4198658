#include "platform/command_line.h"

namespace {

bool IsSeparatorCode(unsigned char c) { return c >= 1 && c <= 32; }

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    // std::string may hold a zero byte; the command line ends at the first one.
    const std::string line = commandLine.substr(0, commandLine.find('\0'));
    std::vector<std::string> tokens;
    std::size_t pos = 0;
    for (;;) {
        // Skip blanks and control characters, and empty quoted arguments among them.
        for (;;) {
            if (pos < line.size() && IsSeparatorCode(static_cast<unsigned char>(line[pos]))) {
                ++pos;
            } else if (pos + 1 < line.size() && line[pos] == '"' && line[pos + 1] == '"') {
                pos += 2;
            } else {
                break;
            }
        }
        std::string token;
        bool quoted = false;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == '"') {
                quoted = !quoted;
                ++pos;
                continue;
            }
            if (!quoted && IsSeparatorCode(static_cast<unsigned char>(c))) break;
            token += c;
            ++pos;
        }
        if (token.empty()) break;
        tokens.push_back(token);
    }
    // The first token is the program name as typed.
    if (!tokens.empty()) tokens.erase(tokens.begin());
    return tokens;
}

#include "scan/scan_file_commands.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const kGroupTitles[kScanGroupCount] = {"Main header", "Channel group",
                                                   "First polarisation (al)",
                                                   "Second polarisation (ar)"};

template <typename Write>
int WithScanFile(const std::string& scanPath, std::ostream& err, Write write) {
    ScanFileContents scan;
    std::string error;
    if (!ReadScanFile(scanPath, scan, error)) {
        err << error << "\n";
        return 1;
    }
    write(scan);
    return 0;
}

// A card for the terminal: control characters other than tabs as "?".
std::string Shown(const std::string& text) {
    std::string shown = text;
    for (char& c : shown) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 32 && u != '\t') || u == 127) c = '?';
    }
    return shown;
}

}  // namespace

void WriteCards(const ScanFileContents& scan, std::ostream& out) {
    for (int group = 0; group < kScanGroupCount; ++group) {
        out << kGroupTitles[group] << "\n";
        for (const ScanCard& card : scan.groups[static_cast<std::size_t>(group)])
            out << "  " << Shown(card.text) << "\n";
        out << "  END\n";
        if (group < kFirstBlockGroup) continue;
        const ScanBlock& block = scan.blocks[static_cast<std::size_t>(group - kFirstBlockGroup)];
        out << "  n " << block.values.size();
        if (!block.values.empty()) {
            const auto range = std::minmax_element(block.values.begin(), block.values.end());
            out << ", smallest " << *range.first << ", largest " << *range.second;
        }
        out << "\n";
    }
}

void WriteData(const ScanFileContents& scan, std::ostream& out) {
    out << "place,offset_arcsec,al,ar\n";
    char row[160];
    for (std::size_t i = 0; i < scan.blocks[0].values.size(); ++i) {
        const auto place = static_cast<int64_t>(i) + 1;
        std::snprintf(row, sizeof row, "%lld,%.10g,%.9g,%.9g\n", static_cast<long long>(place),
                      PlaceOffset(scan, place),
                      static_cast<double>(PhysicalValue(scan.blocks[0], scan.blocks[0].values[i])),
                      static_cast<double>(PhysicalValue(scan.blocks[1], scan.blocks[1].values[i])));
        out << row;
    }
}

std::vector<std::string> ScanFilePathsOfIndex(const std::string& indexPath,
                                              const std::vector<ScanIndexEntry>& entries) {
    const std::size_t slash = indexPath.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : indexPath.substr(0, slash + 1);
    std::vector<std::string> paths;
    for (const ScanIndexEntry& entry : entries) paths.push_back(folder + entry.name);
    return paths;
}

int CardsCommand(const std::string& scanPath, std::ostream& out, std::ostream& err) {
    return WithScanFile(scanPath, err, [&](const ScanFileContents& scan) { WriteCards(scan, out); });
}

int DataCommand(const std::string& scanPath, std::ostream& out, std::ostream& err) {
    return WithScanFile(scanPath, err, [&](const ScanFileContents& scan) { WriteData(scan, out); });
}

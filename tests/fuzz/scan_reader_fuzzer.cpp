// The scan file and scan index readers of vm-scan on arbitrary bytes, and the
// cards and data listings of what they accept.
#include <sstream>

#include "fuzz/fuzz_input.h"
#include "output/scan_reader.h"
#include "scan/scan_file_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string name = "s05b03_05z.001";

    ScanFileContents scan;
    std::string error;
    if (ParseScanFile(bytes, name, scan, error)) {
        FUZZ_CHECK(error.empty(), "error text on success");
        FUZZ_CHECK(scan.naxis1 >= 0, "negative NAXIS1");
        const auto n = static_cast<std::size_t>(scan.naxis1);
        for (const ScanBlock& block : scan.blocks) FUZZ_CHECK(block.values.size() == n, "block length");
        FUZZ_CHECK(4 * n <= bytes.size(), "blocks longer than the file");
        std::ostringstream cards, rows;
        WriteCards(scan, cards);
        WriteData(scan, rows);
    } else {
        FUZZ_CHECK(error.compare(0, name.size() + 2, name + ": ") == 0, "error does not name the file: " + error);
    }

    std::vector<ScanIndexEntry> entries;
    error.clear();
    const std::string indexName = "s05b03_05z.0hd";
    if (ParseScanIndex(bytes, indexName, entries, error)) {
        for (const ScanIndexEntry& entry : entries) {
            FUZZ_CHECK(!entry.name.empty() && entry.name.find_first_of("/\\") == std::string::npos &&
                           entry.name != "." && entry.name != "..",
                       "an index entry outside its folder: " + entry.name);
        }
    } else {
        const std::string where = indexName + ": line ";
        FUZZ_CHECK(error.compare(0, where.size(), where) == 0,
                   "index error does not name the file and line: " + error);
    }
    return 0;
}

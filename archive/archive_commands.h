// vm-archive's subcommands over a catalog (tools/vm-archive.cpp is the
// command line): the daily flux, the active regions, the comparison with a
// published series. Each returns the program's exit code: 0 done, 1 an
// input could not be read or an output could not be written (the message
// on `err` names the file).
#pragma once

#include <ostream>
#include <string>
#include <vector>

struct FluxCommand {
    std::string catalog;
    std::vector<double> frequencies;  // GHz
    bool nearest = false;
    std::string picture, csv;  // empty: no picture; the CSV to `out`
};

struct RegionsCommand {
    std::string catalog;
    std::string pictureDir;  // empty: no pictures
    std::string csv;         // empty: to `out`
};

struct CompareCommand {
    std::string catalog, reference;
    std::string picture, csv;  // empty: none
};

int RunFluxCommand(const FluxCommand& command, std::ostream& out, std::ostream& err);
// What the catalog holds, as text in the order of its natural keys
// (CatalogDump): two catalogs that hold the same print the same.
int RunDumpCommand(const std::string& catalogPath, std::ostream& out, std::ostream& err);
int RunRegionsCommand(const RegionsCommand& command, std::ostream& out, std::ostream& err);
int RunCompareCommand(const CompareCommand& command, std::ostream& out, std::ostream& err);

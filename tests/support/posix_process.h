// Starting the programs under test as processes (Linux tests only).
#pragma once

#include <map>
#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;  // -1 when the process did not exit normally
    std::string out;    // standard output
    std::string err;    // standard error
};

struct ProcessOptions {
    std::string workingFolder;                   // empty: the current one
    std::map<std::string, std::string> setEnv;   // added or replaced variables
    std::vector<std::string> unsetEnv;           // removed variables
    std::string input;                           // written to standard input (a pipe)
};

// Runs argv[0] (a path) with the arguments; waits for it to end.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

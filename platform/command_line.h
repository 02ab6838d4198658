// The Windows command line split into its arguments.
#pragma once

#include <string>
#include <vector>

// Splits a Windows command line into its arguments after the program name.
// Characters with codes 1 to 32 separate tokens; double quotes group blanks
// into a token and are dropped; an empty quoted argument between tokens
// vanishes; the list ends at the first token that comes out empty.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);


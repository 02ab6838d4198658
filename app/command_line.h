// Text helpers of the run driver: the Windows command-line split and paths.
#pragma once

#include <string>
#include <vector>

// Splits a Windows command line into its arguments after the program name.
// Characters with codes 1 to 32 separate tokens; double quotes group blanks
// into a token and are dropped; an empty quoted argument between tokens
// vanishes; the list ends at the first token that comes out empty.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The text before the last separator of `path`; empty when the path holds no
// separator or its only separator is its first character.
std::string FolderOfPath(const std::string& path, char separator);

// Removes one trailing separator, if the text ends in one.
std::string WithoutTrailingSeparator(const std::string& folder, char separator);

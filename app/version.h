// The version every program prints for --version.
#pragma once

#include <string>

// "PROGRAM VERSION", the line --version prints (the project's version).
std::string VersionLine(const std::string& program);

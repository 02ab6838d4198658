// The version every program prints for --version.
#pragma once

#include <string>

// The project's version ("1.0.0").
std::string VersionNumber();

// "PROGRAM VERSION", the line --version prints (the project's version).
std::string VersionLine(const std::string& program);

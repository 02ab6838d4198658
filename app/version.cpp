#include "app/version.h"

std::string VersionLine(const std::string& program) { return program + " " + VMFITS_VERSION; }

#include "app/version.h"

std::string VersionNumber() { return VMFITS_VERSION; }

std::string VersionLine(const std::string& program) { return program + " " + VersionNumber(); }

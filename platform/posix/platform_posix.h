// Linux-only entry points of the platform layer.
#pragma once

#include <string>
#include <vector>

// Keeps the process's arguments for PlatformArguments().
void PosixSetArguments(int argc, const char* const* argv);

// Folder that holds the remembered settings:
// ${XDG_CONFIG_HOME:-$HOME/.config}/vm-fits/registry. Empty when neither
// variable is set.
std::string PosixSettingsFolder();

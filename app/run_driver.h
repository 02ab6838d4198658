// The run driver: the whole life of one converter process.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// Key of the remembered folders and the names of its two values.
extern const char* const kSettingsKey;        // "SOFTWARE\Trevalo"
extern const char* const kOpenFolderValue;    // "ConvertOpen"
extern const char* const kSaveFolderValue;    // "ConvertSave"

// The repair mode of a run with `argumentCount` arguments: two arguments (or
// the dialog) repair by two-sided extrapolation; a third argument, whatever
// it says, switches to back extrapolation.
int32_t RepairModeForArguments(int32_t argumentCount);

// One run: chooses the header, remembers the folders, converts. Returns the
// process's exit code (0 no input chosen, 1 converted, 2 failed).
int RunConverter(InstanceHandle instance);

// Reads a remembered folder into `destination`; copies `defaultText` there and
// returns false when the value is missing.
bool LoadFolderSetting(SettingsRoot root, const std::string& keyPath,
                       const std::string& valueName, std::string& destination,
                       const std::string& defaultText);

// Stores a remembered folder, creating the key when needed.
bool StoreFolderSetting(SettingsRoot root, const std::string& keyPath,
                        const std::string& valueName, const std::string& text);

// Creates the folder (one level). Returns true when it was created; else
// `failure`, when given, says why (empty when the folder exists).
bool EnsureFolder(const std::string& path, std::string* failure = nullptr);

// Formats "Can't open %s" (or another message) into the status text and shows it.
void ReportStatus(const std::string& message);

// Shows a warning about the recording ("id: message"); the Windows program
// shows none.
void ReportWarning(const std::string& line);

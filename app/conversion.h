// One conversion of a recording with every input explicit: the run from the
// observation header on. vm-fits's run driver asks for the header (argument
// or dialog) and hands over to it; vm-batch converts each recording through
// it; vm-scan explain plans a recording with its ReadRecording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "convert/channel_loop.h"
#include "convert/repair.h"
#include "convert/status_sink.h"
#include "inputs/observation_header.h"
#include "platform/platform.h"

// Exit codes of the converter.
constexpr int kExitNoInput = 0;    // no input file was chosen
constexpr int kExitConverted = 1;  // the conversion ran and wrote all it began
constexpr int kExitFailed = 2;     // the run failed (input unreadable, output lost)

// Key of the remembered folders and the names of its two values.
extern const char* const kSettingsKey;      // "SOFTWARE\Trevalo"
extern const char* const kOpenFolderValue;  // "ConvertOpen"
extern const char* const kSaveFolderValue;  // "ConvertSave"

// The repair mode of a run with `argumentCount` arguments: two arguments (or
// the dialog) repair by two-sided extrapolation; a third argument, whatever
// it says, switches to back extrapolation.
int32_t RepairModeForArguments(int32_t argumentCount);

struct ConversionRequest {
    std::string headerPath;
    // The output folder (one trailing separator is removed). None: the
    // remembered one, or the default folder when none is remembered.
    std::optional<std::string> outputFolder;
    int32_t repairMode = kTwoSidedExtrapolation;
    std::string calibrationTablePath;
    // Where the remembered input and output folders are read and stored;
    // none: nowhere.
    std::optional<SettingsPlace> rememberedFolders;
    int32_t calibrationFlag = 0;  // the CALIBR card
};

struct ConversionResult {
    int exitCode = kExitFailed;  // kExitConverted, or kExitFailed (each failure on the status line)
    bool headerRead = false;
    ObservationHeader header;
    std::string inputFolder;
    std::string outputFolder;  // as used
    ChannelLoopResult loop;    // the plan (marker path, names, pointing), the files written, the warnings
};

// Reads the header and settles what the plan of the run takes from the
// request. False with "Can't open HEADER" when the header cannot be read.
bool ReadRecording(const ConversionRequest& request, ObservationHeader& header, RunInputs& inputs,
                   std::string& error);

// Converts: reads the header, remembers its folder, settles, creates and
// remembers the output folder, and runs the channel loop, telling `sink`
// what it does.
ConversionResult ConvertRecording(const ConversionRequest& request, const StatusSink& sink);

// The remembered folders: LoadFolderSetting copies `defaultText` into
// `destination` and returns false when the value is missing;
// StoreFolderSetting creates the key when needed.
bool LoadFolderSetting(const SettingsPlace& place, const std::string& keyPath,
                       const std::string& valueName, std::string& destination,
                       const std::string& defaultText);
bool StoreFolderSetting(const SettingsPlace& place, const std::string& keyPath,
                        const std::string& valueName, const std::string& text);

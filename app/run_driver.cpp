#include "app/run_driver.h"

#include <algorithm>

#include "app/command_line.h"
#include "app/run_context.h"
#include "convert/channel_loop.h"
#include "convert/pointing.h"
#include "convert/repair.h"
#include "inputs/observation_header.h"

const char* const kSettingsKey = "SOFTWARE\\Trevalo";
const char* const kOpenFolderValue = "ConvertOpen";
const char* const kSaveFolderValue = "ConvertSave";

bool LoadFolderSetting(SettingsRoot root, const std::string& keyPath,
                       const std::string& valueName, std::string& destination,
                       const std::string& defaultText) {
    if (PlatformReadSetting(root, keyPath, valueName, destination)) return true;
    destination = defaultText;
    return false;
}

bool StoreFolderSetting(SettingsRoot root, const std::string& keyPath,
                        const std::string& valueName, const std::string& text) {
    return PlatformWriteSetting(root, keyPath, valueName, text);
}

bool EnsureFolder(const std::string& path, std::string* failure) {
    return PlatformCreateFolder(path, failure);
}

void ReportStatus(const std::string& message) {
    gRun.statusText = message;
    PlatformShowStatus(gRun.statusDialog, gRun.statusText);
}

void ReportWarning(const std::string& line) { PlatformShowWarning(line); }

int32_t RepairModeForArguments(int32_t argumentCount) {
    return argumentCount < 3 ? kTwoSidedExtrapolation : kBackExtrapolation;
}

int RunConverter(InstanceHandle instance) {
    RunContext& run = gRun;

    // Arguments: with two or more, the header file and the output folder come
    // from the command line; a single argument is ignored.
    const std::vector<std::string> arguments = PlatformArguments();
    run.argumentCount = static_cast<int32_t>(arguments.size());
    if (run.argumentCount >= 2) {
        run.arguments[0] = PlatformExecutablePath(instance);
        const std::size_t stored = std::min<std::size_t>(arguments.size(), run.arguments.size() - 1);
        for (std::size_t i = 0; i < stored; ++i) run.arguments[i + 1] = arguments[i];
    }

    PlatformRegisterControls(instance);
    run.executableFolder = FolderOfPath(PlatformExecutablePath(instance), kFolderSeparator);

    // The dialog's initial folder is read whether or not the dialog is shown.
    std::string initialFolder;
    LoadFolderSetting(SettingsRoot::CurrentUser, kSettingsKey, kOpenFolderValue, initialFolder,
                      kDefaultFolder);

    run.inputHeaderPath.clear();
    if (run.argumentCount >= 2) {
        run.inputHeaderPath = run.arguments[1];
    } else if (!PlatformChooseHeaderFile(run.statusDialog, initialFolder, run.inputHeaderPath)) {
        return kExitNoInput;
    }
    if (run.inputHeaderPath.empty()) return kExitNoInput;

    // A header that cannot be opened ends the run before anything is written.
    if (!ReadObservationHeader(run.inputHeaderPath, run.header, &run.headerFileLength)) {
        ReportStatus("Can't open " + run.inputHeaderPath);
        PlatformUnregisterControls(instance);
        return kExitFailed;
    }

    run.inputFolder = FolderOfPath(run.inputHeaderPath, kFolderSeparator);
    StoreFolderSetting(SettingsRoot::CurrentUser, kSettingsKey, kOpenFolderValue, run.inputFolder);

    std::string outputText;
    LoadFolderSetting(SettingsRoot::CurrentUser, kSettingsKey, kSaveFolderValue, outputText,
                      kDefaultFolder);
    if (run.argumentCount >= 2) outputText = run.arguments[2];
    run.outputFolder = WithoutTrailingSeparator(outputText, kFolderSeparator);
    // An existing folder is the ordinary case; any other failure is said,
    // and the scan index then cannot be created either.
    std::string failure;
    if (!EnsureFolder(run.outputFolder, &failure) && !failure.empty())
        ReportStatus("Can't create " + run.outputFolder + ": " + failure);
    StoreFolderSetting(SettingsRoot::CurrentUser, kSettingsKey, kSaveFolderValue, run.outputFolder);

    run.repairMode = RepairModeForArguments(run.argumentCount);
    run.calibrationFlag = 0;

    run.pointing = DerivePointingValues(run.header);
    const bool converted = ConvertChannels();

    if (run.statusDialog) {
        PlatformDestroyWindow(run.statusDialog);
        run.statusDialog = nullptr;
    }
    PlatformUnregisterControls(instance);
    return converted ? kExitConverted : kExitFailed;
}

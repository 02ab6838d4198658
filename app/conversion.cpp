#include "app/conversion.h"

#include "inputs/calibration.h"
#include "platform/paths.h"

const char* const kSettingsKey = "SOFTWARE\\Trevalo";
const char* const kOpenFolderValue = "ConvertOpen";
const char* const kSaveFolderValue = "ConvertSave";

int32_t RepairModeForArguments(int32_t argumentCount) {
    return argumentCount < 3 ? kTwoSidedExtrapolation : kBackExtrapolation;
}

bool LoadFolderSetting(const SettingsPlace& place, const std::string& keyPath,
                       const std::string& valueName, std::string& destination,
                       const std::string& defaultText) {
    if (PlatformReadSetting(place, keyPath, valueName, destination)) return true;
    destination = defaultText;
    return false;
}

bool StoreFolderSetting(const SettingsPlace& place, const std::string& keyPath,
                        const std::string& valueName, const std::string& text) {
    return PlatformWriteSetting(place, keyPath, valueName, text);
}

bool ReadRecording(const ConversionRequest& request, ObservationHeader& header, RunInputs& inputs,
                   std::string& error) {
    inputs = RunInputs();
    if (request.headerPath.empty() ||
        !ReadObservationHeader(request.headerPath, header, &inputs.headerLength)) {
        error = "Can't open " + request.headerPath;
        return false;
    }
    inputs.inputHeaderPath = request.headerPath;
    inputs.inputFolder = FolderOfPath(request.headerPath);
    inputs.repairMode = request.repairMode;
    inputs.calibrationTablePath = request.calibrationTablePath;
    return true;
}

ConversionResult ConvertRecording(const ConversionRequest& request, const StatusSink& sink) {
    ConversionResult result;
    const auto status = [&](const std::string& text) {
        if (sink.status) sink.status(text);
    };
    RunInputs inputs;
    std::string error;
    if (!ReadRecording(request, result.header, inputs, error)) {
        status(error);
        return result;
    }
    result.headerRead = true;
    result.inputFolder = inputs.inputFolder;

    // The folders are remembered in this order: the input folder is stored,
    // the output folder read (and then replaced by the one asked for), the
    // output folder created and stored, even when creating it failed.
    const std::optional<SettingsPlace>& place = request.rememberedFolders;
    if (place) StoreFolderSetting(*place, kSettingsKey, kOpenFolderValue, result.inputFolder);
    std::string outputText = kDefaultFolder;
    if (place) LoadFolderSetting(*place, kSettingsKey, kSaveFolderValue, outputText, kDefaultFolder);
    if (request.outputFolder) outputText = *request.outputFolder;
    result.outputFolder = WithoutTrailingSeparator(outputText);
    // An existing folder is the ordinary case; any other failure is said,
    // and the scan index then cannot be created either.
    std::string failure;
    if (!PlatformCreateFolder(result.outputFolder, &failure) && !failure.empty())
        status("Can't create " + result.outputFolder + ": " + failure);
    if (place) StoreFolderSetting(*place, kSettingsKey, kSaveFolderValue, result.outputFolder);

    result.loop = ConvertChannels(inputs, result.header, result.outputFolder, request.calibrationFlag, sink);
    result.exitCode = result.loop.allWritten ? kExitConverted : kExitFailed;
    return result;
}

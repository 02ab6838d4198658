#include "app/run_driver.h"

#include <algorithm>

#include "inputs/calibration.h"
#include "platform/paths.h"

StatusSink StatusSinkOf(RunContext& run) {
    StatusSink sink;
    sink.status = [&run](const std::string& text) {
        run.statusText = text;
        PlatformShowStatus(run.statusDialog, run.statusText);
    };
    sink.warning = [](const RunWarning& warning) { PlatformShowWarning(WarningLine(warning)); };
    sink.pump = [&run] { PlatformPumpMessages(run.statusDialog); };
    return sink;
}

int RunConverter(InstanceHandle instance, const std::string& tablePath) {
    RunContext run;
    return RunConverter(instance, run, tablePath);
}

int RunConverter(InstanceHandle instance, RunContext& run, const std::string& tablePath) {
    gDialogContext = &run;
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
    run.executableFolder = FolderOfPath(PlatformExecutablePath(instance));

    // The dialog's initial folder is read whether or not the dialog is shown.
    const SettingsPlace settings;
    std::string initialFolder;
    LoadFolderSetting(settings, kSettingsKey, kOpenFolderValue, initialFolder, kDefaultFolder);

    run.inputHeaderPath.clear();
    if (run.argumentCount >= 2) {
        run.inputHeaderPath = run.arguments[1];
    } else if (!PlatformChooseHeaderFile(run.statusDialog, initialFolder, run.inputHeaderPath)) {
        gDialogContext = nullptr;
        return kExitNoInput;
    }
    if (run.inputHeaderPath.empty()) {
        gDialogContext = nullptr;
        return kExitNoInput;
    }

    run.repairMode = RepairModeForArguments(run.argumentCount);
    run.calibrationFlag = 0;
    ConversionRequest request;
    request.headerPath = run.inputHeaderPath;
    if (run.argumentCount >= 2) request.outputFolder = run.arguments[2];
    request.repairMode = run.repairMode;
    request.calibrationTablePath = tablePath.empty() ? CalibrationTablePath(run.executableFolder) : tablePath;
    request.rememberedFolders = settings;
    request.calibrationFlag = run.calibrationFlag;
    const ConversionResult result = ConvertRecording(request, StatusSinkOf(run));

    // The run's record keeps what the run used; the header path has become the marker path.
    run.header = result.header;
    run.inputFolder = result.inputFolder;
    run.outputFolder = result.outputFolder;
    run.pointing = result.loop.plan.pointing;
    if (result.headerRead) run.inputHeaderPath = result.loop.plan.markerPath;
    if (result.headerRead && run.statusDialog) {
        PlatformDestroyWindow(run.statusDialog);
        run.statusDialog = nullptr;
    }
    PlatformUnregisterControls(instance);
    gDialogContext = nullptr;
    return result.exitCode;
}

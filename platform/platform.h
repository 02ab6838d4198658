// The small layer that stands in for the operating system. One header, two
// implementations: platform/win32 uses the real Windows calls, platform/posix
// the Linux substitutes. The build links exactly one of them.
#pragma once

#include <string>
#include <vector>

// The module instance handle the process was started with (HINSTANCE on
// Windows, unused on Linux).
using InstanceHandle = void*;
// A window handle (HWND on Windows); null means "no window".
using WindowHandle = void*;

// Folder separator of the platform's paths: '\\' on Windows, '/' on Linux.
extern const char kFolderSeparator;
// Folder used when no folder is remembered: "c:\tmp" on Windows, "/tmp" on Linux.
extern const char* const kDefaultFolder;

// Sets up the arithmetic of the process: the x87 unit computes with a 64-bit
// significand (extended precision). Called once at start, before any arithmetic.
void PlatformInitialiseArithmetic();

// The command-line arguments after the program name, in order.
std::vector<std::string> PlatformArguments();

// Full path of the running executable.
std::string PlatformExecutablePath(InstanceHandle instance);

// Asks the user for the observation header file. `initialFolder` is where the
// choice starts, `owner` the window that owns the dialog (may be null).
// Returns false when the user cancelled or the chosen path does not fit the
// 127-character file-name buffer (126 characters and the terminator).
bool PlatformChooseHeaderFile(WindowHandle owner, const std::string& initialFolder,
                              std::string& chosenPath);

// Roots of the remembered settings; the converter uses the current user's.
enum class SettingsRoot { CurrentUser };

// Where remembered settings live: a root of the system's settings (the
// registry on Windows) and, on Linux, the folder that holds them (empty: the
// default, ${XDG_CONFIG_HOME:-$HOME/.config}/vm-fits/registry).
struct SettingsPlace {
    SettingsRoot root = SettingsRoot::CurrentUser;
    std::string folder;
};

// Reads a text value: open the key, ask for the value's size, read it. Returns
// false when the key or the value is missing. The value's bytes are taken up to
// the first zero byte, whatever their length.
bool PlatformReadSetting(const SettingsPlace& place, const std::string& keyPath,
                         const std::string& valueName, std::string& value);
// Writes a text value, creating the key when needed. Returns true when stored.
bool PlatformWriteSetting(const SettingsPlace& place, const std::string& keyPath,
                          const std::string& valueName, const std::string& value);

// Creates one folder level. Fails when the folder exists or its parent is
// missing. `failure`, when given, receives why it failed: empty when
// something of that name exists already, else the system's reason ("the
// folder P does not exist" for a missing parent; the system's text for a
// parent that is there but refuses, as /proc does).
bool PlatformCreateFolder(const std::string& path, std::string* failure = nullptr);

// Three-dimensional look of the program's dialogs (Windows only; no-op elsewhere).
void PlatformRegisterControls(InstanceHandle instance);
void PlatformUnregisterControls(InstanceHandle instance);

// Serves the pending messages of the status dialog, if there is one; never waits.
void PlatformPumpMessages(WindowHandle statusDialog);
// Shows a text on the status line. Linux: the text and a line feed on standard
// error. Windows: the status dialog's item 100 (nothing happens without a window).
void PlatformShowStatus(WindowHandle statusDialog, const std::string& text);
// Shows a warning about the recording being converted ("id: message").
// Linux: kWarningLinePrefix and the text on standard error. Windows:
// nothing; the program stays silent.
void PlatformShowWarning(const std::string& text);
// What begins a warning's line on Linux; vm-batch reads warnings by it.
constexpr char kWarningLinePrefix[] = "vm-fits: warning: ";
// Destroys the status dialog window at the end of a run.
void PlatformDestroyWindow(WindowHandle window);

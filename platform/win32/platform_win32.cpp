// The real Windows calls behind the platform layer.
#include "platform/platform.h"

#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "platform/command_line.h"
#include "platform/win32/program_width.h"

const char kFolderSeparator = '\\';
const char* const kDefaultFolder = "c:\\tmp";

namespace {

// The dialog's file-name buffer: 126 characters and the terminator.
constexpr DWORD kFileNameBufferSize = 127;

// The three-dimensional control library has no import library here: it is
// loaded when present, and its calls are skipped when it is not.
using Ctl3dCall = BOOL(WINAPI*)(HINSTANCE);

// Loaded from the system folder only (never a copy lying in the current or
// the program's folder), without the loader's error boxes when it is missing.
HMODULE LoadControlLibrary() {
    char path[MAX_PATH + 16];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    lstrcatA(path, "\\ctl3d32.dll");
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE library = LoadLibraryA(path);
    SetErrorMode(previousMode);
    return library;
}

Ctl3dCall Ctl3dFunction(const char* name) {
    if (!kHasThreeDimensionalControls) return nullptr;
    static HMODULE library = LoadControlLibrary();
    if (!library) return nullptr;
    return reinterpret_cast<Ctl3dCall>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

HKEY RootKey(SettingsRoot root) {
    switch (root) {
        case SettingsRoot::CurrentUser:
            return HKEY_CURRENT_USER;
    }
    return HKEY_CURRENT_USER;
}

}  // namespace

void PlatformInitialiseArithmetic() {
    // x87 control word: precision control (bits 8 and 9) = 11, a 64-bit
    // significand; rounding control (bits 10 and 11) = 00, to nearest. The
    // exception masks are kept.
    unsigned short control = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    control = static_cast<unsigned short>((control & ~0x0F00u) | 0x0300u);
    __asm__ __volatile__("fldcw %0" : : "m"(control));
    // SSE (float and double): rounding to nearest, denormals neither flushed
    // to zero nor read as zero; the exception masks are kept.
    unsigned int sse = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(sse));
    sse &= ~(0x6000u | 0x8000u | 0x0040u);
    __asm__ __volatile__("ldmxcsr %0" : : "m"(sse));
}

std::vector<std::string> PlatformArguments() { return SplitCommandLine(GetCommandLineA()); }

std::string PlatformExecutablePath(InstanceHandle instance) {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(instance), buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);  // cut off: try a larger buffer
    }
}

bool PlatformChooseHeaderFile(WindowHandle owner, const std::string& initialFolder,
                              std::string& chosenPath) {
    char fileName[kFileNameBufferSize] = {0};
    static const char kFilter[] = "Header Files\0*.*h;\0Any Files\0*.*\0";
    OPENFILENAMEA request;
    ZeroMemory(&request, sizeof request);
    request.lStructSize = kFileOpenRequestSize;  // the classic form
    request.hwndOwner = static_cast<HWND>(owner);
    request.lpstrFilter = kFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = fileName;
    request.nMaxFile = kFileNameBufferSize;
    request.lpstrInitialDir = initialFolder.c_str();
    request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;  // 0x1804
    chosenPath.clear();
    const BOOL chosen = GetOpenFileNameA(&request);
    // The dialog loads shell extensions into the process, and a library may
    // change the floating-point control words: set them again.
    PlatformInitialiseArithmetic();
    if (!chosen) return false;
    chosenPath = fileName;
    return true;
}

bool PlatformReadSetting(const SettingsPlace& place, const std::string& keyPath,
                         const std::string& valueName, std::string& value) {
    const SettingsRoot root = place.root;  // the registry holds them; no folder
    HKEY key = nullptr;
    if (RegOpenKeyExA(RootKey(root), keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    std::string data(size, '\0');
    RegQueryValueExA(key, valueName.c_str(), nullptr, nullptr,
                     reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    data.resize(std::min<std::size_t>(data.size(), size));
    value = data.substr(0, data.find('\0'));
    return true;
}

bool PlatformWriteSetting(const SettingsPlace& place, const std::string& keyPath,
                          const std::string& valueName, const std::string& value) {
    const SettingsRoot root = place.root;
    HKEY key = nullptr;
    DWORD disposition = 0;
    char noClass[] = "";
    if (RegCreateKeyExA(RootKey(root), keyPath.c_str(), 0, noClass, 0, KEY_ALL_ACCESS, nullptr,
                        &key, &disposition) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExA(key, valueName.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool PlatformCreateFolder(const std::string& path, std::string* failure) {
    if (CreateDirectoryA(path.c_str(), nullptr) != 0) return true;
    if (failure) {
        const DWORD error = GetLastError();
        *failure = error == ERROR_ALREADY_EXISTS ? std::string()
                   : error == ERROR_PATH_NOT_FOUND ? std::string("its parent folder does not exist")
                                                   : "system error " + std::to_string(error);
    }
    return false;
}

void PlatformRegisterControls(InstanceHandle instance) {
    if (Ctl3dCall registerCall = Ctl3dFunction("Ctl3dRegister"))
        registerCall(static_cast<HINSTANCE>(instance));
    if (Ctl3dCall subclassCall = Ctl3dFunction("Ctl3dAutoSubclass"))
        subclassCall(static_cast<HINSTANCE>(instance));
    PlatformInitialiseArithmetic();  // loading a library may change the control words
}

void PlatformUnregisterControls(InstanceHandle instance) {
    if (Ctl3dCall unregisterCall = Ctl3dFunction("Ctl3dUnregister"))
        unregisterCall(static_cast<HINSTANCE>(instance));
}

void PlatformPumpMessages(WindowHandle statusDialog) {
    if (!statusDialog) return;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(static_cast<HWND>(statusDialog), &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

void PlatformShowStatus(WindowHandle statusDialog, const std::string& text) {
    // Without a window the call has no effect.
    SetDlgItemTextA(static_cast<HWND>(statusDialog), 100, text.c_str());
}

void PlatformShowWarning(const std::string&) {}

void PlatformDestroyWindow(WindowHandle window) {
    if (window) DestroyWindow(static_cast<HWND>(window));
}

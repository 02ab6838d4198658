// Linux substitutes for the operating-system calls of the converter.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "platform/paths.h"
#include "platform/posix/platform_posix.h"

extern char** environ;

const char kFolderSeparator = '/';
const char* const kDefaultFolder = "/tmp";

namespace {

// The process's arguments, which the system keeps for the whole process (as
// Windows does for GetCommandLineA): main hands them over once.
std::vector<std::string> gArguments;

// A chosen path must fit the 127-character file-name buffer of the dialog.
constexpr std::size_t kLongestChosenPath = 126;

const char* RootName(SettingsRoot root) {
    switch (root) {
        case SettingsRoot::CurrentUser:
            return "HKEY_CURRENT_USER";
    }
    return "HKEY_CURRENT_USER";
}

// The key path "SOFTWARE\Trevalo" becomes the folders SOFTWARE/Trevalo.
std::string KeyFolder(const SettingsPlace& place, const std::string& keyPath) {
    const std::string base = place.folder.empty() ? PosixSettingsFolder() : place.folder;
    if (base.empty()) return std::string();
    std::string folder = base + "/" + RootName(place.root);
    std::string part;
    for (char c : keyPath + "\\") {
        if (c == '\\') {
            if (!part.empty() && part != "." && part != "..") folder += "/" + part;
            part.clear();
        } else {
            part += (c == '/') ? '_' : c;
        }
    }
    return folder;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ExecutableOnPath(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool DisplayAvailable() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

// Runs zenity's file selection; false when it was cancelled or failed.
bool ChooseWithZenity(const std::string& initialFolder, std::string& chosen) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    const std::string start = "--filename=" + initialFolder + "/";
    const char* argv[] = {"zenity",
                          "--file-selection",
                          start.c_str(),
                          "--file-filter=Header Files | *.*h",
                          "--file-filter=Any Files | *",
                          nullptr};
    const pid_t pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp("zenity", const_cast<char* const*>(argv));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[512];
    for (;;) {
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    chosen = output;
    return true;
}

bool ChooseOnTerminal(const std::string& initialFolder, std::string& chosen) {
    std::fprintf(stderr, "Observation header file (last folder %s): ", initialFolder.c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    chosen = line;
    return true;
}

// The stored bytes of a value. False when there is no such value.
bool ReadValueFile(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    return read;
}

}  // namespace

void PosixSetArguments(int argc, const char* const* argv) {
    gArguments.clear();
    for (int i = 1; i < argc; ++i) gArguments.emplace_back(argv[i]);
}

std::string PosixSettingsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string config;
    if (xdg && *xdg) {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return std::string();
        config = std::string(home) + "/.config";
    }
    return config + "/vm-fits/registry";
}

void PlatformInitialiseArithmetic() {
    // The x87 unit of Linux on x86 starts with a 64-bit significand already.
}

std::vector<std::string> PlatformArguments() { return gArguments; }

std::string PlatformExecutablePath(InstanceHandle) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool PlatformChooseHeaderFile(WindowHandle, const std::string& initialFolder,
                              std::string& chosenPath) {
    chosenPath.clear();
    std::string chosen;
    bool answered = false;
    if (DisplayAvailable() && ExecutableOnPath("zenity")) {
        answered = ChooseWithZenity(initialFolder, chosen);
    } else if (isatty(STDIN_FILENO)) {
        answered = ChooseOnTerminal(initialFolder, chosen);
    }
    if (!answered || chosen.empty() || chosen.size() > kLongestChosenPath) return false;
    chosenPath = chosen;
    return true;
}

bool PlatformReadSetting(const SettingsPlace& place, const std::string& keyPath,
                         const std::string& valueName, std::string& value) {
    const std::string folder = KeyFolder(place, keyPath);
    if (folder.empty()) return false;
    std::string bytes;
    if (!ReadValueFile(folder + "/" + valueName, bytes)) return false;
    value = bytes.substr(0, bytes.find('\0'));
    return true;
}

bool PlatformWriteSetting(const SettingsPlace& place, const std::string& keyPath,
                          const std::string& valueName, const std::string& value) {
    const std::string folder = KeyFolder(place, keyPath);
    if (folder.empty() || !MakeFolders(folder)) return false;
    // A value that already holds the text stays as it is: the run after run
    // into the same folders writes nothing (and waits for no disk).
    std::string stored;
    if (ReadValueFile(folder + "/" + valueName, stored) && stored == value) return true;
    // A value is replaced whole: written beside it, then renamed over it.
    std::string temporary = folder + "/." + valueName + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) return false;
    bool ok = WriteAll(fd, value) && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    if (ok) ok = std::rename(temporary.c_str(), (folder + "/" + valueName).c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool PlatformCreateFolder(const std::string& path, std::string* failure) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    if (failure) {
        const int error = errno;
        const std::size_t slash = path.find_last_not_of('/') == std::string::npos
                                      ? std::string::npos
                                      : path.rfind('/', path.find_last_not_of('/'));
        const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        // ENOENT also comes from a parent that is there but takes no new
        // folder (/proc): the system's own words then.
        struct stat info;
        const bool parentMissing = error == ENOENT && stat(parent.c_str(), &info) != 0 && errno == ENOENT;
        *failure = error == EEXIST   ? std::string()
                   : parentMissing   ? "the folder " + parent + " does not exist"
                                     : std::string(std::strerror(error));
    }
    return false;
}

void PlatformRegisterControls(InstanceHandle) {}
void PlatformUnregisterControls(InstanceHandle) {}
void PlatformPumpMessages(WindowHandle) {}

void PlatformShowStatus(WindowHandle, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

void PlatformShowWarning(const std::string& text) {
    PlatformShowStatus(nullptr, kWarningLinePrefix + text);
}

void PlatformDestroyWindow(WindowHandle) {}

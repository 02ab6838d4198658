#include "platform/paths.h"

#include <filesystem>
#include <system_error>

std::string FolderOfPath(const std::string& path, char separator) {
    const std::size_t last = path.rfind(separator);
    if (last == std::string::npos || last == 0) return std::string();
    return path.substr(0, last);
}

std::string FileNameOfPath(const std::string& path, char separator) {
    const std::size_t at = path.rfind(separator);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string WithoutTrailingSeparator(const std::string& folder, char separator) {
    if (!folder.empty() && folder.back() == separator) return folder.substr(0, folder.size() - 1);
    return folder;
}

std::string JoinPath(const std::string& folder, const std::string& name, char separator) {
    return folder.empty() ? name : folder + separator + name;
}

bool MakeFolders(const std::string& path, std::string* failure) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (std::filesystem::is_directory(path)) return true;
    if (failure) *failure = error ? error.message() : "a file of that name is in the way";
    return false;
}

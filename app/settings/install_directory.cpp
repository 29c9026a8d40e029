#include "install_directory.h"

#include "unique_handle.h"

#include <windows.h>

#include <cstring>

namespace tolvane {

std::string RunningExecutable() {
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length < sizeof path ? length : 0);
}

std::string FolderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string InstallDirectory() {
    unique_hkey key;
    char path[260] = {};
    DWORD size = sizeof path;
    // The installer writes this value; its type is not checked, and it may lack its NUL.
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Ostrimark\\Tolvane\\3.5", 0, KEY_ALL_ACCESS, key.put()) ==
            ERROR_SUCCESS &&
        ::RegQueryValueExA(key.get(), "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) ==
            ERROR_SUCCESS) {
        const void* end = std::memchr(path, '\0', size);
        std::string folder = FolderOf(std::string(path, end ? static_cast<const char*>(end) - path : size));
        if (!folder.empty()) return folder;
    }
    return FolderOf(RunningExecutable());
}

}  // namespace tolvane

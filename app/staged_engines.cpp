#include "staged_engines.h"

#include "settings_store.h"
#include "unique_handle.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace tolvane {

namespace {

std::string PluginsDir() {
    unique_hkey key;
    char folder[261] = {};
    DWORD size = 260;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExA(key.get(), "PluginsDir", nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size) !=
            ERROR_SUCCESS)
        return std::string();
    return std::string(folder, strnlen(folder, size));
}

}  // namespace

bool SwapStagedEngines(const EngineVersion& stagedVersion) {
    std::string folder = PluginsDir();
    bool copied = !folder.empty() &&
                  ::CopyFileA("kwreng32.tmp", (folder + "\\kwreng32.dll").c_str(), FALSE) &&
                  ::CopyFileA("hyseng32.tmp", (folder + "\\hyseng32.dll").c_str(), FALSE);
    ::DeleteFileA("kwreng32.tmp");
    ::DeleteFileA("hyseng32.tmp");
    if (copied) SaveEngineVersion(stagedVersion);
    return copied;
}

}  // namespace tolvane

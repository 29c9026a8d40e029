#include "staged_engines.h"

#include "settings/settings_store.h"
#include "unique_handle.h"

#include <windows.h>

#include <array>
#include <cstring>
#include <string>

namespace tolvane {

namespace {

// Under the Engine key beside the installed version: the version of staged modules that
// are still waiting, as the 12 bytes of an EngineVersion.
constexpr char kStagedVersionValue[] = "StagedEngine";

struct StagedModule {
    const char* staged;     // current directory
    const char* installed;  // plug-in folder
};
constexpr std::array<StagedModule, 2> kModules{{{"kwreng32.tmp", "kwreng32.dll"}, {"hyseng32.tmp", "hyseng32.dll"}}};

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

unique_hkey EngineKey(bool create) {
    unique_hkey key;
    std::string path = std::string(kProductKeyPath) + "\\Engine";
    LSTATUS status = create ? ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr)
                            : ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (status != ERROR_SUCCESS) key.reset();
    return key;
}

std::optional<EngineVersion> RecordedVersion() {
    unique_hkey key = EngineKey(false);
    EngineVersion version{};
    DWORD type = 0, size = sizeof version;
    if (!key ||
        ::RegQueryValueExA(key.get(), kStagedVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(&version),
                           &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size != sizeof version)
        return std::nullopt;
    return version;
}

void ForgetRecordedVersion() {
    if (unique_hkey key = EngineKey(false)) ::RegDeleteValueA(key.get(), kStagedVersionValue);
}

// Moves `from` over `to`; Windows 9x has no MoveFileEx, and there the old file goes first.
bool Replace(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    ::DeleteFileA(to.c_str());
    return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

// Whole copies of both staged modules under temporary names in `folder`, deleted again
// unless they were moved into place.
class FolderCopies {
public:
    ~FolderCopies() {
        for (const std::string& name : names_)
            if (!name.empty()) ::DeleteFileA(name.c_str());
    }
    bool Make(const std::string& folder) {
        for (std::size_t i = 0; i < kModules.size(); ++i) {
            char name[MAX_PATH];
            if (!::GetTempFileNameA(folder.c_str(), "tvs", 0, name)) return false;
            names_[i] = name;
            if (!::CopyFileA(kModules[i].staged, name, FALSE)) return false;
        }
        return true;
    }
    bool MoveInto(const std::string& folder) {
        for (std::size_t i = 0; i < kModules.size(); ++i) {
            if (!Replace(names_[i], folder + "\\" + kModules[i].installed)) return false;
            names_[i].clear();
        }
        return true;
    }

private:
    std::array<std::string, kModules.size()> names_;
};

bool PutInPlace() {
    std::string folder = PluginsDir();
    if (folder.empty()) return false;
    FolderCopies copies;
    return copies.Make(folder) && copies.MoveInto(folder);
}

}  // namespace

bool RecordStagedEngines(const EngineVersion& version) {
    unique_hkey key = EngineKey(true);
    return key && ::RegSetValueExA(key.get(), kStagedVersionValue, 0, REG_BINARY,
                                   reinterpret_cast<const BYTE*>(&version), sizeof version) == ERROR_SUCCESS;
}

EngineSwap SwapStagedEngines(const std::optional<EngineVersion>& downloaded) {
    std::optional<EngineVersion> version = downloaded ? downloaded : RecordedVersion();
    if (!version) return EngineSwap::NothingStaged;
    if (!downloaded && (::GetFileAttributesA(kModules[0].staged) == INVALID_FILE_ATTRIBUTES ||
                        ::GetFileAttributesA(kModules[1].staged) == INVALID_FILE_ATTRIBUTES)) {
        // Someone removed what was waiting; the update client will offer the modules again.
        ForgetRecordedVersion();
        return EngineSwap::NothingStaged;
    }
    if (!PutInPlace()) {
        RecordStagedEngines(*version);
        return EngineSwap::Kept;
    }
    for (const StagedModule& module : kModules) ::DeleteFileA(module.staged);
    SaveEngineVersion(*version);
    ForgetRecordedVersion();
    return EngineSwap::Swapped;
}

}  // namespace tolvane

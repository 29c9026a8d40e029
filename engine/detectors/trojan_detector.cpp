#include "trojan_detector.h"

#include "ini_autostart.h"
#include "process_inspector.h"
#include "quarantine.h"
#include "quarantine_file.h"
#include "registry_views.h"
#include "unique_handle.h"

#include <cstdio>
#include <vector>

namespace tolvane {

// Fixed 65-byte records: the type index from the signature file selects one. Index 3
// has never carried the separator, and rows built from it show so.
const char TrojanTypeNames[kTrojanTypeCount][kTypeRecordBytes] = {
    "Back Orifice**KWR**", "NetBus**KWR**",    "MastersParadise**KWR**", "Sockets d'Troy",
    "DeepThroat**KWR**",   "SetupDM**KWR**",   "SkSilencer**KWR**",      "HackAttack**KWR**",
    "PrettyPark**KWR**",   "Bo2k**KWR**",      "SubSeven**KWR**",        "AttackFTP**KWR**",
};

namespace {

constexpr char kFileInUseFormat[] =
    "An infection was detected but the file is in use by the operating system. Tolvane will "
    "remove the registry entry to prevent the trojan from restarting, but you will need to "
    "reboot your system to disable this trojan. After rebooting, please go to the DOS prompt "
    "and type\n'del %s'.\nThis will ensure the trojan is deleted.";

std::string CurrentDirectory() {
    char buffer[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TrojanDetector::TrojanDetector(const char* filePath, DWORD processId, int typeIndex)
    : typeIndex_(typeIndex), filePath_(filePath ? filePath : ""), processId_(processId) {
    if (typeIndex >= 0 && typeIndex < kTrojanTypeCount) typeRecord_ = TrojanTypeNames[typeIndex];
}

bool TrojanDetector::GetRegistryEntry(std::string&) const { return true; }

std::string TrojanDetector::GetTypeName(bool) const { return std::string(); }

std::string TrojanDetector::TypeRecordText(bool strip) const {
    if (!strip) return typeRecord_;
    return typeRecord_.substr(0, typeRecord_.find(kTypeSeparator));
}

bool TrojanDetector::Remove() { return Quarantine(); }

std::string TrojanDetector::FileName() const {
    std::size_t slash = filePath_.find_last_of('\\');
    return slash == std::string::npos ? filePath_ : filePath_.substr(slash + 1);
}

std::string TrojanDetector::QuarantineFolder() const {
    return (quarantineParent_.empty() ? CurrentDirectory() : quarantineParent_) + "\\" + kQuarantineFolderName;
}

bool TrojanDetector::Quarantine(const char* path) {
    std::string source = path ? path : filePath_;
    std::string folder = QuarantineFolder();
    if (!Exists(folder) && !::CreateDirectoryA(folder.c_str(), nullptr)) {
        errorCode_ = ::GetLastError();
        return false;
    }
    if (!FileIsReadable(source.c_str())) return true;
    std::size_t slash = source.find_last_of('\\');
    std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    std::string destination = folder + "\\" + QuarantineFileName(name);
    if (Exists(destination)) ::DeleteFileA(destination.c_str());
    // A file that vanished between the look and the copy has nothing left to move.
    return QuarantineCopy(source.c_str(), destination.c_str()) || errorCode_ == ERROR_FILE_NOT_FOUND;
}

bool TrojanDetector::QuarantineCopy(const char* source, const char* destination) {
    DWORD error = QuarantineCopyFile(source, destination);
    if (error == ERROR_SUCCESS) return true;
    errorCode_ = error;
    return false;
}

void TrojanDetector::CleanIniAutostart() { tolvane::CleanIniAutostart(FileName()); }

bool TrojanDetector::StripFileTokens(const std::string& value, std::string& newValue) const {
    return tolvane::StripFileTokens(value, FileName(), newValue);
}

bool TrojanDetector::TerminateAndQuarantine() {
    ProcessInspector inspector;
    // The id was taken when the trojan was found; once that process has ended the system
    // may have given the id to an unrelated program, which must not be stopped instead.
    if (processId_ != kNoProcess && !inspector.RunsExecutable(processId_, filePath_.c_str())) {
        errorCode_ = ERROR_INVALID_PARAMETER;
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    if (!inspector.KillProcess(nullptr, processId_)) {
        errorCode_ = ::GetLastError();
        return false;
    }
    return Quarantine();
}

bool TrojanDetector::DeleteRegistryValue(HKEY root, const std::string& key, const std::string& entry,
                                         REGSAM view) {
    unique_hkey opened;
    LONG result = ::RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS | view, opened.put());
    if (result != ERROR_SUCCESS) {
        errorCode_ = static_cast<DWORD>(result);
        return false;
    }
    const char* name = ::lstrcmpiA(entry.c_str(), kDefaultValueEntry) == 0 ? "" : entry.c_str();
    result = ::RegDeleteValueA(opened.get(), name);
    if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) return true;
    errorCode_ = static_cast<DWORD>(result);
    return false;
}

bool TrojanDetector::DeleteRegistryValueInEveryView(HKEY root, const std::string& key, const std::string& entry) {
    bool removed = true;
    bool own = true;
    for (REGSAM view : RegistryViews()) {
        unique_hkey probe;
        bool keyMissing = ::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, probe.put()) == ERROR_FILE_NOT_FOUND;
        if (own || !keyMissing) removed = DeleteRegistryValue(root, key, entry, view) && removed;
        own = false;
    }
    return removed;
}

bool TrojanDetector::SetRegistryString(HKEY root, const std::string& key, const char* name,
                                       const std::string& value) {
    unique_hkey opened;
    LONG result = ::RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, opened.put());
    if (result == ERROR_SUCCESS)
        result = ::RegSetValueExA(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>(value.size() + 1));
    if (result == ERROR_SUCCESS) return true;
    errorCode_ = static_cast<DWORD>(result);
    return false;
}

std::string FileInUseMessage(const std::string& shortPath) {
    std::vector<char> text(sizeof kFileInUseFormat + shortPath.size());
    std::snprintf(text.data(), text.size(), kFileInUseFormat, shortPath.c_str());
    return text.data();
}

void ShowFileInUse(const std::string& path) {
    char shortPath[MAX_PATH];
    DWORD n = ::GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    std::string shown = n > 0 && n < sizeof shortPath ? std::string(shortPath, n) : path;
    ::MessageBoxA(nullptr, FileInUseMessage(shown).c_str(), nullptr, MB_OK);
}

std::string WindowsDirectory() {
    char buffer[MAX_PATH];
    UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string("c:\\windows");
}

}  // namespace tolvane

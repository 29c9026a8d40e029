#include "quarantine_manager.h"

#include "quarantine_format.h"
#include "resource.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <cstring>

namespace tolvane {
namespace {

constexpr UINT kReport = MB_OK | MB_ICONINFORMATION;

unique_file OpenQuarantineFile(const std::string& path) {
    return unique_file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Leaves the file positioned at the content. A file cut short inside the header gives
// whatever path text it holds, ended or not, and no content; only a whole header must
// end its path with a zero.
DWORD ReadFormerPath(HANDLE file, std::string& path) {
    std::uint8_t header[sizeof(QuarantineHeader)] = {};
    DWORD got = 0;
    if (!::ReadFile(file, header, sizeof header, &got, nullptr)) return LastErrorOr(ERROR_READ_FAULT);
    return ParseQuarantinePath(header, sizeof header, path) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

bool Gone(const std::string& path) {
    if (::DeleteFileA(path.c_str())) return true;
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::string QuarantineFolder(const std::string& installDirectory) {
    return installDirectory + "\\" + kQuarantineFolderName;
}

std::vector<std::string> ListQuarantine(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    unique_find find(::FindFirstFileA((folder + "\\*.*").c_str(), &found));
    if (!find) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileA(find.get(), &found));
    return names;
}

std::string QuarantinedFrom(const std::string& quarantineFile) {
    std::string path;
    unique_file file = OpenQuarantineFile(quarantineFile);
    if (!file || ReadFormerPath(file.get(), path) != ERROR_SUCCESS) return std::string();
    return path;
}

DWORD RestoreQuarantinedFile(const std::string& quarantineFile, const BlockReader& reader,
                             const BlockWriter& writer) {
    unique_file in = OpenQuarantineFile(quarantineFile);
    if (!in) return LastErrorOr(ERROR_OPEN_FAILED);
    std::string formerPath;
    if (DWORD error = ReadFormerPath(in.get(), formerPath)) return error;
    if (!IsRestorablePath(formerPath)) return ERROR_BAD_PATHNAME;
    unique_file out(::CreateFileA(formerPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return LastErrorOr(ERROR_OPEN_FAILED);
    // The quarantine file goes only once its content is whole on disk at the former path.
    if (DWORD error = FinishCopy(out, formerPath, CopyScrambledBlocks(in.get(), out.get(), reader, writer)))
        return error;
    in.reset();
    // A quarantine file that cannot be deleted merely stays listed; the restore happened.
    ::DeleteFileA(quarantineFile.c_str());
    return ERROR_SUCCESS;
}

void StopConfirming(UINT question) {
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    const char* name = question == IDS_CONFIRM_RESTORE ? "ConfirmRestore" : "ConfirmDelete";
    std::int32_t off = 0;
    ::RegSetValueExA(key.get(), name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&off), sizeof off);
}

void QuarantineManager::Refresh() {
    files_ = ListQuarantine(folder_);
    LoadSettings();
    if (refreshed_) refreshed_();
}

void QuarantineManager::Restore(const std::vector<std::string>& selected, const ConfirmQuestion& confirm) {
    if (selected.empty() || !Confirmed(confirmRestore_ == 1, IDS_CONFIRM_RESTORE, confirm)) return;
    for (const std::string& name : selected) {
        std::string path = folder_ + "\\" + name;
        if (RestoreQuarantinedFile(path) != ERROR_SUCCESS) ShowMessage(IDS_RESTORE_FAILED, path);
    }
    Refresh();
    ShowMessage(IDS_FILES_RESTORED, kReport);
}

void QuarantineManager::Delete(const std::vector<std::string>& selected, const ConfirmQuestion& confirm) {
    if (selected.empty() || !Confirmed(confirmDelete_ == 1, IDS_CONFIRM_DELETE, confirm)) return;
    // A read-only file or one held open stays; the user must hear which, and hear
    // "deleted" only for the files that went.
    std::vector<std::string> kept;
    for (const std::string& name : selected) {
        std::string path = folder_ + "\\" + name;
        if (!Gone(path)) kept.push_back(path);
    }
    Refresh();
    for (const std::string& path : kept) ShowMessage(IDS_DELETE_FAILED, path);
    if (kept.size() < selected.size()) ShowMessage(IDS_FILES_DELETED, kReport);
}

bool QuarantineManager::Confirmed(bool ask, UINT question, const ConfirmQuestion& confirm) const {
    return !ask || (confirm && confirm(question));
}

// Booleans are 4 bytes and taken only as 0 or 1, whatever type they were stored with.
void QuarantineManager::LoadSettings() {
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
    for (auto [name, field] : {std::make_pair("ConfirmDelete", &confirmDelete_),
                               std::make_pair("ConfirmRestore", &confirmRestore_)}) {
        DWORD value = 0, size = sizeof value;
        if (::RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
                ERROR_SUCCESS &&
            size == sizeof value && (value == 0 || value == 1))
            *field = static_cast<std::int32_t>(value);
    }
    // The engine writes the date as 12 bytes; anything longer is not its date.
    unique_hkey engine;
    char date[12];
    DWORD size = sizeof date, type = REG_NONE;
    if (::RegOpenKeyExA(key.get(), "Engine", 0, KEY_ALL_ACCESS, engine.put()) == ERROR_SUCCESS &&
        ::RegQueryValueExA(engine.get(), "VirusDefsDate", nullptr, &type, reinterpret_cast<BYTE*>(date), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ)
        definitionsDate_.assign(date, strnlen(date, size));
}

}  // namespace tolvane

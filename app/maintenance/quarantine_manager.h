// The quarantine manager behind the status page: what lies in the "Infected Files"
// folder, where each file came from, and putting files back or deleting them for good,
// guarded by the questions the user can switch off.
#pragma once

#include "quarantine_copy.h"
#include "restore_path.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane {

constexpr char kQuarantineFolderName[] = "Infected Files";

// The quarantine folder of an installation folder.
std::string QuarantineFolder(const std::string& installDirectory);

// Names of the files (not folders) in `folder`, in the order the system lists them;
// none when the folder is missing.
std::vector<std::string> ListQuarantine(const std::string& folder);

// The former path a quarantine file names; empty when it cannot be read or names none.
std::string QuarantinedFrom(const std::string& quarantineFile);

// Writes the quarantine file's content, unscrambled, to its former path and then deletes
// it. Returns ERROR_SUCCESS or the error of the failed step; then the quarantine file is
// untouched and nothing is left at the former path. A file already there, a missing
// folder or a path that IsRestorablePath refuses fail the restore. `reader` and `writer`
// stand in for ReadFile and WriteFile in tests.
DWORD RestoreQuarantinedFile(const std::string& quarantineFile, const BlockReader& reader = nullptr,
                             const BlockWriter& writer = nullptr);

// The "Don't ask me this question again." box: ConfirmRestore (question IDS_CONFIRM_RESTORE)
// or ConfirmDelete (IDS_CONFIRM_DELETE) becomes 0. Errors are ignored.
void StopConfirming(UINT question);

// Runs the confirmation dialog for a question; true when the user chose OK.
using ConfirmQuestion = std::function<bool(UINT question)>;

class QuarantineManager {
public:
    explicit QuarantineManager(std::string folder) : folder_(std::move(folder)) {}

    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& Files() const { return files_; }
    std::int32_t ConfirmRestore() const { return confirmRestore_; }
    std::int32_t ConfirmDelete() const { return confirmDelete_; }
    const std::string& DefinitionsDate() const { return definitionsDate_; }

    // Called at the end of every Refresh, so the page shows the new list before any report.
    void OnRefresh(std::function<void()> refreshed) { refreshed_ = std::move(refreshed); }

    // Lists the folder again and re-reads the two confirmation settings and the
    // definitions date; without the product key the settings and the date stay as they were.
    void Refresh();
    // Nothing happens for an empty selection or an unconfirmed question. Each file that
    // cannot be restored or deleted is reported and stays; the others are still handled.
    void Restore(const std::vector<std::string>& selected, const ConfirmQuestion& confirm);
    void Delete(const std::vector<std::string>& selected, const ConfirmQuestion& confirm);

private:
    bool Confirmed(bool ask, UINT question, const ConfirmQuestion& confirm) const;
    void LoadSettings();

    std::string folder_;
    std::vector<std::string> files_;
    std::int32_t confirmRestore_ = 1;
    std::int32_t confirmDelete_ = 1;
    std::string definitionsDate_ = "<Unknown>";
    std::function<void()> refreshed_;
};

}  // namespace tolvane

// The autostart keys Run and RunServices under HKEY_LOCAL_MACHINE: the programs they
// start, for the autostart scan, and the value that starts a given file, for a detector.
// On 64-bit Windows each key exists in both registry views (registry_views.h) and both
// are read; `view` is 0 or one of KEY_WOW64_32KEY and KEY_WOW64_64KEY.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tolvane {

constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunServicesKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices";

// The engine's check of one file; a failed result stops the scan.
using AutostartFileCheck = std::function<HRESULT(const char* path)>;

// Hands every program of RunServices, then of Run, to `checkFile`, each key in every
// registry view in turn. Returns S_OK, or the first failed result (nothing after it is
// checked). A key that cannot be opened is skipped.
HRESULT ScanAutostartEntries(const AutostartFileCheck& checkFile);

// The commands of the key's values, a bare name put after the system directory (for a
// RunServices key) or the Windows directory. Returns ERROR_SUCCESS or the error of opening
// the key, in which case `commands` is untouched. A command longer than a path can be
// is left out.
LONG ListAutostartCommands(HKEY root, const char* subkey, std::vector<std::string>& commands,
                           REGSAM view = 0);

// Finds the Run (then RunServices) value whose command, cut at its first "-" or "/",
// begins with `path`. On a match writes the value's name and its key's path and returns
// true when the name is not empty; the key's unnamed default value writes an empty name
// and the key path and returns false.
// Reads the keys of one view.
bool FindAutostartEntry(const char* path, std::string& valueName, std::string& keyPath, REGSAM view = 0);

// A value the lookup found, with the view it lives in: it is deleted in that view.
struct AutostartEntry {
    std::string valueName;  // empty for the key's unnamed value
    std::string keyPath;
    REGSAM view = 0;
};

// The lookup in every registry view of this system, in the order of RegistryViews: one
// entry for each view with a match, unnamed values included.
std::vector<AutostartEntry> FindAutostartEntries(const char* path);

}  // namespace tolvane

#include "autostart.h"
#include "family_detectors.h"

#include <algorithm>

namespace tolvane {

void AutostartValueDetector::LookUpAutostartValue(const char* notFound) {
    notFound_ = notFound;
    found_ = FindAutostartEntries(FilePath().c_str());
    // A match on a key's unnamed value gives the key and an empty name.
    if (!found_.empty()) {
        registryEntry_ = found_.front().valueName;
        registryKey_ = found_.front().keyPath;
    }
    if (registryEntry_.empty()) registryEntry_ = notFound;
}

bool AutostartValueDetector::FoundANamedValue() const {
    return std::any_of(found_.begin(), found_.end(),
                       [](const AutostartEntry& entry) { return !entry.valueName.empty(); });
}

bool AutostartValueDetector::DeleteFoundValues(bool unnamedToo) {
    bool removed = true;
    for (const AutostartEntry& entry : found_) {
        if (entry.valueName.empty() && !unnamedToo) continue;
        removed = DeleteRegistryValue(HKEY_LOCAL_MACHINE, entry.keyPath, entry.valueName, entry.view) && removed;
    }
    return removed;
}

bool AutostartValueDetector::DeleteFromFamilyKey(const char* familyKey) {
    if (found_.empty()) return DeleteRegistryValueInEveryView(HKEY_LOCAL_MACHINE, familyKey, registryEntry_);
    bool removed = true;
    for (const AutostartEntry& entry : found_) {
        std::string name = EntryName(entry);
        if (name != kNoEntry && ::lstrcmpiA(entry.keyPath.c_str(), familyKey) != 0) {
            DWORD kept = errorCode_;
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, entry.keyPath, name, entry.view);
            errorCode_ = kept;
        }
        removed = DeleteRegistryValue(HKEY_LOCAL_MACHINE, familyKey, name, entry.view) && removed;
    }
    return removed;
}

}  // namespace tolvane

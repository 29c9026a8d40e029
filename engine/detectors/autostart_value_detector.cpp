#include "autostart.h"
#include "family_detectors.h"

namespace tolvane {

void AutostartValueDetector::LookUpAutostartValue(const char* notFound) {
    // A match on a key's unnamed value gives the key and an empty name.
    FindAutostartEntry(FilePath().c_str(), registryEntry_, registryKey_);
    if (registryEntry_.empty()) registryEntry_ = notFound;
}

void AutostartValueDetector::DeleteFoundValueOutside(const char* familyKey) {
    if (registryKey_.empty() || registryEntry_ == kNoEntry) return;
    if (::lstrcmpiA(registryKey_.c_str(), familyKey) == 0) return;
    DWORD kept = errorCode_;
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, registryKey_, registryEntry_);
    errorCode_ = kept;
}

}  // namespace tolvane

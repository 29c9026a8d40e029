#include "family_detectors.h"

namespace tolvane {

RunValueDetector::RunValueDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    LookUpAutostartValue(kNoEntry);
}

bool RunValueDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    if (registryEntry_ == kNoEntry) return true;
    return DeleteRegistryValue(HKEY_LOCAL_MACHINE, registryKey_, registryEntry_);
}

}  // namespace tolvane

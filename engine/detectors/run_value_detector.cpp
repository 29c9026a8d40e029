#include "family_detectors.h"

namespace tolvane {

RunValueDetector::RunValueDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    LookUpAutostartValue(kNoEntry);
}

bool RunValueDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    return DeleteFoundValues(false);
}

}  // namespace tolvane

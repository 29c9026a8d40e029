#include "family_detectors.h"

namespace tolvane {

NetBusDetector::NetBusDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    LookUpAutostartValue("");
}

bool NetBusDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    std::string windows = WindowsDirectory();
    // The server copies itself into the Windows directory; a file found elsewhere leaves
    // that copy behind. The drive prefix is left out of the test.
    if (windows.size() > 3 && FilePath().find(windows.substr(3)) == std::string::npos)
        Quarantine((windows + "\\" + FileName()).c_str());
    Quarantine((windows + "\\KeyHook.dll").c_str());
    return DeleteFoundValues(true);
}

}  // namespace tolvane

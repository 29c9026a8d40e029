#include "autostart.h"
#include "family_detectors.h"
#include "process_inspector.h"

#include <algorithm>
#include <cctype>

namespace tolvane {

DeepThroatDetector::DeepThroatDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    std::string upper = FilePath();
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    restore_ = upper.find("SYSTRAY") != std::string::npos ? 1 : 0;
    registryEntry_ = restore_ ? "Systemtray" : "SystemDLL32";
}

bool DeepThroatDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    std::string dropped = "systemio.exe";
    SystemDirectoryPath(dropped);
    Quarantine(dropped.c_str());
    if (!restore_) return DeleteRegistryValueInEveryView(HKEY_LOCAL_MACHINE, kRunKey, "SystemDLL32");
    // Disguised as the tray program, the server replaced the tray's own value: give it back.
    std::string tray = "systray.exe";
    SystemDirectoryPath(tray);
    return SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, "Systemtray", tray);
}

}  // namespace tolvane

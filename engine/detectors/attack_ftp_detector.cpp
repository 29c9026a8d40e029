#include "autostart.h"
#include "family_detectors.h"
#include "process_inspector.h"

namespace tolvane {

AttackFtpDetector::AttackFtpDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    registryEntry_ = "Reminder";
}

bool AttackFtpDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    bool removed = DeleteRegistryValueInEveryView(HKEY_LOCAL_MACHINE, kRunKey, registryEntry_);
    // The INI lines start the server's dropper, not the file that was running: aim the
    // clean-up at the dropper's name. The detector shows that file from now on.
    std::string dropper = "wscan.exe";
    SystemDirectoryPath(dropper);
    SetFilePath(dropper.c_str());
    CleanIniAutostart();
    Quarantine(dropper.c_str());
    Quarantine((WindowsDirectory() + "\\wver.dll").c_str());
    return removed;
}

}  // namespace tolvane

// The engine's view of the running system: its process inspector, the process list of
// a detection pass and the autostart scan.
#include "scan_engine.h"

namespace tolvane {

class ProcessInspector {};

ScanEngine::ScanEngine() : installFolder_(ReadInstallFolder()) { LockModule(); }

ScanEngine::~ScanEngine() {
    detectors_.clear();
    CloseLog();
    UnlockModule();
}

void ScanEngine::CreateInspector() {}

bool ScanEngine::ListRunningProcesses() { return false; }

void ScanEngine::RunAutostartScan() {}

}  // namespace tolvane

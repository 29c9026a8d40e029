// The engine's view of the running system: its process inspector, the process list of
// a detection pass and the autostart scan.
#include "scan_engine.h"

#include "autostart.h"
#include "process_inspector.h"

namespace tolvane {

ScanEngine::ScanEngine() : installFolder_(ReadInstallFolder()) {}

ScanEngine::~ScanEngine() {
    detectors_.clear();
    CloseLog();
}

void ScanEngine::CreateInspector() {
    // A system without the process functions still gets an inspector; its listing
    // fails later and the detection pass reports that.
    if (!inspector_) inspector_ = std::make_unique<ProcessInspector>();
}

bool ScanEngine::ListRunningProcesses() {
    return inspector_ && inspector_->ListProcessPaths(*processPaths_);
}

void ScanEngine::RunAutostartScan() {
    autostartScanRunning_ = true;
    ScanAutostartEntries([this](const char* path) { return CheckFile(path, &lastError_); });
    autostartScanRunning_ = false;
}

}  // namespace tolvane

// Turns a file's type index into a detector when its family's checks agree.
#pragma once

#include "trojan_detector.h"

namespace tolvane {

class ProcessInspector;

struct DetectorContext {
    ProcessInspector* inspector;  // the engine's, for the process id of the file
};

enum class DetectorOutcome { NotDue, Created, NoMemory };

// `file` is open for reading at any position; `path` is the file as found.
DetectorOutcome CreateDetector(DWORD typeIndex, HANDLE file, const char* path,
                               DetectorList& detectors, const DetectorContext& context);

}  // namespace tolvane

// Turns a file's type index into a detector when its family's checks agree.
#pragma once

#include "trojan_detector.h"

#include <string>

namespace tolvane {

class ProcessInspector;

struct DetectorContext {
    ProcessInspector* inspector;  // the engine's, for the process id of the file
};

enum class DetectorOutcome { NotDue, Created, NoMemory };

// What a file of a type index must show to become a detector, and which detector type it
// becomes. Types 2, 3 and 5 and unknown ones (also no signature entry at all) are reported
// as Bo2k, and only when they carry a ".plugins" section.
struct DetectorPlan {
    enum class Condition { None, MinimumSize, PluginsSection };
    Condition condition;
    DWORD minimumSize;
    int detectorType;
};
DetectorPlan PlanDetector(DWORD typeIndex);

// `file` is open for reading at any position; `path` is the file as found. A created
// detector goes to the head of `detectors`.
DetectorOutcome CreateDetector(DWORD typeIndex, HANDLE file, const char* path,
                               DetectorList& detectors, const DetectorContext& context);

}  // namespace tolvane

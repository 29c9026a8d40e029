// The two checks of a privacy scan: fingerprints of running executables and registry
// keys that monitoring tools create.
#pragma once

#include "monitor_finding.h"
#include "privacy_signatures.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace tolvane {

// Fingerprints the executables in `paths`, taking each from the front of the list as it
// is checked. A path listed with type index 0 becomes `finding` unless one is held.
// Returns the status of the last path checked: kCodeUnspecified when it could not be
// opened, kCodeNoMemory when a finding could not be made (the check stops there),
// otherwise kCodeSuccess. An unreadable path before the last one does not count.
DWORD CheckProcessPaths(std::vector<std::string>& paths, const SignatureTable& crcIndex,
                        std::unique_ptr<MonitorFinding>& finding);

// Appends the name of every record whose key opens with full access.
void CheckRegistrySignatures(const RegistrySignatureList& records, std::vector<std::string>& names);

}  // namespace tolvane

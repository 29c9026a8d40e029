// Moving a trojan's file into the quarantine folder: the file is written in the
// quarantine layout and the original deleted only once its copy is complete on disk.
#pragma once

#include "quarantine_copy.h"

#include <windows.h>

#include <string>

namespace tolvane {

constexpr char kQuarantineFolderName[] = "Infected Files";

// Writes the quarantine file of `source` at `destination` (replacing any file there) and
// then deletes `source`. Returns ERROR_SUCCESS or the system error of the failed step; after
// a failed open, read, write, flush or close the partial quarantine file is removed and the
// source stays. Both files are opened without sharing, so a file still held by a process
// fails. `reader` stands in for ReadFile.
DWORD QuarantineCopyFile(const std::string& source, const std::string& destination,
                         const BlockReader& reader = nullptr);

}  // namespace tolvane

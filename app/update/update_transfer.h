// One file from the update server to a local file. The local file changes only when the
// whole file arrived: the data goes to a scratch file beside it, which replaces it at the end.
#pragma once

#include "update_file_check.h"
#include "update_run.h"

#include <string>

namespace tolvane {

enum class TransferOutcome {
    Done,
    Failed,   // this file is not fetched; the run goes on to the next one
    Aborted,  // a file-system or Internet-library error: the run ends at once
};

// Writes the worker's status line (at most 1023 characters).
void ShowStatus(UpdateRun& run, const char* format, ...);

// `remote` is a transfer-list entry appended to the server prefix; `local` a file path,
// replaced only by a file that passes the check for `kind` (refused with a message).
TransferOutcome TransferFile(UpdateRun& run, const std::string& remote, const std::string& local,
                             DownloadKind kind);

}  // namespace tolvane

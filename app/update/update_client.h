// The update client: one run fetches the server's version file and whatever is newer
// than the installed definitions and engines, with a progress window and Cancel, and ends
// with one message telling the user the outcome.
#pragma once

#include "settings/app_settings.h"
#include "update_run.h"
#include "update_signature.h"

#include <windows.h>

namespace tolvane {

// What a run reads and changes of the program's state.
struct UpdateTarget {
    HWND owner;                          // disabled during the run; may be null
    const UpdateOptionsRecord& options;  // server prefix and folder
    EngineVersion& engineVersion;        // takes the server's numbers when engines were staged
    bool& enginesDownloaded;             // set when "kwreng32.tmp" and "hyseng32.tmp" are staged
    DWORD timeoutMilliseconds = 30000;   // longest wait for the server at any one step
    // The maker's public key; when this file exists, every download must carry a valid
    // signature.
    std::string keyFile = UpdateKeyBesideProgram();
};

// Runs one update on the calling (user-interface) thread and returns once the result's
// message has been dismissed. `localDate` is the installed definitions' month/day/year.
// Returns the UpdateResult: 0 to 3, kUpdateCanceled or kUpdateFailed.
int RunUpdate(const char* localDate, const UpdateTarget& target);

}  // namespace tolvane

#include "engine_messages.h"

#include "engine_codes.h"

namespace tolvane {

const char* EngineMessage(DWORD code) {
    switch (code) {
    case kCodeProcessListFailed:
        return "Tolvane encountered an internal error: (FindProc 57358)";
    case kCodeNoMemory:
        return "Tolvane encountered an internal error: (MemAlloc 57359)";
    case kCodeSignatureRead:
        return "Tolvane encountered an internal error when attempting to read the signature files.  "
               "Would you like to download the latest signature files?";
    case kCodeSignatureMagic:
        return "Self check failed. The signature files have been tampered with or are corrupted.  "
               "Would you like to download the latest signature files?";
    case kCodeSignatureMissing:
        return "Tolvane could not load the signature files. The files may be missing or corrupt.  "
               "Would you like to download the latest signature files?";
    case kCodeUnspecified:
        return "There was an unspecified error.";
    default:
        return nullptr;
    }
}

}  // namespace tolvane

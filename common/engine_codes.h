// Engine result codes. Every code but 1 is also the number of the message the program
// shows for it, so the values are fixed.
#pragma once

#include "win32_subset.h"

namespace tolvane {

enum EngineCode : DWORD {
    kCodeSuccess = 1,
    kCodeProcessListFailed = 57358,   // "(FindProc 57358)"
    kCodeNoMemory = 57359,            // "(MemAlloc 57359)"
    kCodeSignatureRead = 57360,
    kCodeSignatureMagic = 57361,
    kCodeSignatureMissing = 57362,
    kCodeUnspecified = 57390,
};

}  // namespace tolvane

// The texts the program shows for engine codes, shared by the console scanner.
#pragma once

#include <windows.h>

namespace tolvane {

// The message for an engine code, or nullptr for a code that has none.
const char* EngineMessage(DWORD code);

}  // namespace tolvane

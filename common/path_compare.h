// Paths compare as Windows compares file names: without regard to case, aware of
// double-byte characters in the ANSI code page.
#pragma once

#include <windows.h>

namespace tolvane {

inline bool SamePathIgnoringCase(const char* a, const char* b) {
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, -1, b, -1) == CSTR_EQUAL;
}

}  // namespace tolvane

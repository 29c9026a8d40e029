// Texts across the COM boundary: the engines work on 8-bit ANSI strings, their clients
// hand over and take back BSTRs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace tolvane {

// The ANSI code page form of `text`; a null BSTR is the empty text.
std::string ToAnsi(BSTR text);

// A new BSTR the caller frees; null when out of memory.
BSTR ToBstr(const std::string& text);

// The texts as a one-dimensional VT_BSTR safe array with lower bound 0, which the caller
// destroys; null when out of memory, with nothing left allocated.
SAFEARRAY* ToBstrArray(const std::vector<std::string>& texts);

}  // namespace tolvane

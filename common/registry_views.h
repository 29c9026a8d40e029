// 64-bit Windows keeps two views of HKEY_LOCAL_MACHINE\SOFTWARE, one for 32-bit and one
// for 64-bit programs, and shows each program its own unless it names the other: a
// trojan's autostart value may sit in either. Windows 9x, NT 4 and every 32-bit Windows
// have one view only and know neither view flag.
#pragma once

#include <windows.h>

#include <vector>

namespace tolvane {

// True for a 32-bit program on 64-bit Windows. IsWow64Process is bound at run time:
// Windows 9x and NT 4 do not have it.
bool RunsUnderWow64();

// True when Windows is 64-bit: always for the 64-bit edition, under WOW64 for the other.
bool OnWindows64();

// The views in which the autostart keys are read, the program's own first: on 64-bit
// Windows KEY_WOW64_64KEY and KEY_WOW64_32KEY in that order for the 64-bit edition and
// the other way round under WOW64; elsewhere the single view 0 (no flag at all).
std::vector<REGSAM> RegistryViews();

}  // namespace tolvane

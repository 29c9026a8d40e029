// Windows 9x keeps kernel32 in memory that every process shares, so a trojan can patch
// the export entries of the Toolhelp32 functions once and hide from every process list.
// The repair puts back the values that the kernel32 file on disk holds.
#pragma once

#include <windows.h>

namespace tolvane {

enum class ExportRepairResult { Repaired, AlreadyMatching, Failed };

// Compares the export entry `name` of the loaded `module` with the one of a private copy
// of the module's file and writes the file's value when they differ.
ExportRepairResult RepairExportEntry(HMODULE module, const char* name);

// Repairs Process32First/Next, Thread32First/Next and Module32First/Next in the loaded
// kernel32. Each name on its own; failures are silent.
void RepairToolhelpExports();

}  // namespace tolvane

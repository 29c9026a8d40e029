/* A module with a ".plugins" section that tells whether anyone loaded it: on process
   attach it sets an environment variable in the loading process, and does nothing else.
   The engine must answer the section question from the file without loading it. */
#include <windows.h>

__attribute__((section(".plugins"), used))
static const char pluginsMarker[] = "Tolvane test specimen: no plug-ins inside";

BOOL __stdcall SpecimenProbeEntry(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", "1");
    return TRUE;
}

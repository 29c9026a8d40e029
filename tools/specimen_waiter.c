/* A harmless stand-in for a trojan executable: it links no C runtime and does nothing
   but wait until it is ended, so tests and demonstrations can run it, find its process
   and have it stopped and quarantined. The build gives each copy its own fingerprint. */
#include <windows.h>

#ifdef SPECIMEN_WITH_PLUGINS
/* Some servers carry their extension modules in a section of this name; the engine
   looks for the name in the section table. */
__attribute__((section(".plugins"), used))
static const char pluginsMarker[] = "Tolvane test specimen: no plug-ins inside";
#endif

void __stdcall SpecimenMain(void) {
    for (;;) Sleep(INFINITE);
}

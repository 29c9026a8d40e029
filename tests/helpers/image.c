/* A DLL built without the C runtime for the private loader: an absolute pointer that
   only a relocation makes right, an import by name (kernel32) and one by ordinal
   (RecordEvent), and an entry point that records attach and detach. */
#include <windows.h>

void RecordEvent(int event);

static const char greeting[] = "relocated";
static const char* greetingPointer = greeting;
static DWORD attachedProcess;

__declspec(dllexport) const char* Greeting(void) { return greetingPointer; }
__declspec(dllexport) DWORD AttachedProcess(void) { return attachedProcess; }

BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        attachedProcess = GetCurrentProcessId();
        RecordEvent(1);
    } else if (reason == DLL_PROCESS_DETACH) {
        RecordEvent(2);
    }
    return TRUE;
}

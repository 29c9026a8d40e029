/* Writes a marker file when the process detaches it (ExitProcess ran) and can hold the
   exit there for ever, so the process outlives any wait for its ending thread. */
#include <windows.h>

static char marker[MAX_PATH];
static int hold;

__declspec(dllexport) void ArmDetach(const char* path, int holdExit) {
    lstrcpynA(marker, path, MAX_PATH);
    hold = holdExit;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && marker[0]) {
        HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (hold) Sleep(INFINITE);
    }
    return TRUE;
}

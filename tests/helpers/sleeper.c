/* A program for the process tests: signals the named event once it runs, then waits.
   With a marker path it loads the detach helper, which writes the marker when the
   process exits through ExitProcess and, with "hold", never lets that exit finish. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

typedef void (*ArmFn)(const char*, int);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    if (__argc > 2) {
        HMODULE dll = LoadLibraryA("tolvane_test_detach.dll");
        ArmFn arm = dll ? (ArmFn)(void*)GetProcAddress(dll, "ArmDetach") : NULL;
        if (!arm) return 2;
        arm(__argv[2], __argc > 3 && strcmp(__argv[3], "hold") == 0);
    }
    if (__argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, __argv[1]);
        if (ready) SetEvent(ready);
    }
    Sleep(120000); /* a test that lost track of it still gets its process back */
    return 3;
}

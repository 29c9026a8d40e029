/* A program for the process tests: signals the named event once it runs, then waits.
   With a marker path it loads the detach helper, which writes the marker when the
   process exits through ExitProcess and, with "hold", never lets that exit finish. With
   "deflect" it patches its own ExitProcess to return at once, as a trojan that will not
   be asked to end does. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

typedef void (*ArmFn)(const char*, int);

/* ExitProcess(code) becomes a bare return: a thread started there returns and the process
   runs on. A 32-bit stdcall function pops its one argument ("ret 4"); in x64 code the
   argument travels in a register, and "ret 4" would leave the stack misaligned. */
static int DeflectExitProcess(void) {
#ifdef _WIN64
    static const unsigned char ret4[] = {0xC3};
#else
    static const unsigned char ret4[] = {0xC2, 0x04, 0x00};
#endif
    unsigned char* code = (unsigned char*)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "ExitProcess");
    DWORD old;
    if (!code || !VirtualProtect(code, sizeof ret4, PAGE_EXECUTE_READWRITE, &old)) return 0;
    memcpy(code, ret4, sizeof ret4);
    FlushInstructionCache(GetCurrentProcess(), code, sizeof ret4);
    return 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    if (__argc > 2) {
        HMODULE dll = LoadLibraryA("tolvane_test_detach.dll");
        ArmFn arm = dll ? (ArmFn)(void*)GetProcAddress(dll, "ArmDetach") : NULL;
        if (!arm) return 2;
        arm(__argv[2], __argc > 3 && strcmp(__argv[3], "hold") == 0);
        if (__argc > 3 && strcmp(__argv[3], "deflect") == 0 && !DeflectExitProcess()) return 4;
    }
    if (__argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, __argv[1]);
        if (ready) SetEvent(ready);
    }
    Sleep(120000); /* a test that lost track of it still gets its process back */
    return 3;
}

// Stands in for a monitoring tool: a process that only waits until the test ends it.
// It signals the event named on its command line once it runs, and gives up by itself
// after five minutes so a test that dies leaves nothing behind.
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc > 1) {
        HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, __argv[1]);
        if (ready) ::SetEvent(ready);
    }
    ::Sleep(5 * 60 * 1000);
    return 0;
}

// Tolvane.exe: lives in the tray and opens its main window on demand.
#include "tolvane_app.h"

#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::vector<std::string> arguments;
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
    tolvane::CTolvaneApp app;
    if (!app.InitInstance(arguments)) return 0;
    return app.Run();
}

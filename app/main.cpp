// Tolvane.exe: lives in the tray and opens its main window on demand.
#include "admin_alert.h"
#include "app_globals.h"
#include "shell_hooks.h"
#include "tolvane_app.h"
#include "update_client.h"

#include <windows.h>

#include <cstdlib>

namespace {

constexpr DWORD kAlertGraceMilliseconds = 15000;

// The update client joins the shell here: a run owned by the hidden frame, changing the
// program's engine version and staged-engine flag when it stages new modules.
bool RunProgramUpdate(const char* localDate) {
    tolvane::CTolvaneApp& app = tolvane::TheApp();
    HWND owner = app.MainFrame() ? app.MainFrame()->Handle() : nullptr;
    tolvane::UpdateTarget target{owner, tolvane::Settings().UpdateOptions,
                                 tolvane::InstalledEngineVersion(), app.EnginesDownloaded};
    return tolvane::RunUpdate(localDate, target) != tolvane::kUpdateFailed;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::vector<std::string> arguments;
    for (int i = 1; i < __argc; ++i) arguments.emplace_back(__argv[i]);
    tolvane::CTolvaneApp app;
    tolvane::SetUpdateRunner(RunProgramUpdate);
    tolvane::SetAdminAlertStarter(tolvane::StartAdminAlertThread);
    if (!app.InitInstance(arguments)) return 0;
    int result = app.Run();
    // An alert still on its way when the user chose Exit is sent before the process
    // ends, as far as a mail server that answers allows.
    tolvane::WaitForAlertThreads(kAlertGraceMilliseconds);
    return result;
}

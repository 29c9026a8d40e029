// Tolvane.exe: lives in the tray and opens its main window on demand.
#include "settings/app_globals.h"
#include "shell_hooks.h"
#include "tolvane_app.h"
#include "tray/admin_alert.h"
#include "ui/message_box.h"
#include "update/update_client.h"

#include <windows.h>

#include <cstdlib>

namespace {

constexpr DWORD kAlertGraceMilliseconds = 15000;

// The update client joins the shell here: a run that blocks the window it was started
// from (the main window, or nothing when the start-up's signature question asked), and
// changes the program's engine version and staged-engine flag when it stages new modules.
// The hidden frame would be no owner: the main window would stay live and could start a
// second run over the first one's files.
bool RunProgramUpdate(const char* localDate) {
    tolvane::CTolvaneApp& app = tolvane::TheApp();
    tolvane::UpdateTarget target{tolvane::ModalOwner(), tolvane::Settings().UpdateOptions,
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

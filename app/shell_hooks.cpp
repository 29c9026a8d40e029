#include "shell_hooks.h"

namespace tolvane {

namespace {

UpdateRunner g_updateRunner = nullptr;
AlertStarter g_alertStarter = nullptr;

}  // namespace

void SetUpdateRunner(UpdateRunner runner) { g_updateRunner = runner; }
bool UpdateAvailable() { return g_updateRunner != nullptr; }
bool RunUpdate(const char* localDate) { return g_updateRunner && g_updateRunner(localDate); }

void SetAdminAlertStarter(AlertStarter starter) { g_alertStarter = starter; }
bool StartAdminAlert() {
    if (!g_alertStarter) return false;
    g_alertStarter();
    return true;
}

}  // namespace tolvane

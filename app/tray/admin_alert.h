// AdminAlert: a mail to the administrator about a detection, sent through the scan
// engine module's Email object on a thread of its own, so that a slow or absent mail
// server never holds up the user interface.
#pragma once

#include <windows.h>

namespace tolvane {

// Starts one alert mail with the AdminAlert settings as they are now. Installed as the
// shell's alert starter.
void StartAdminAlertThread();

// Whether every alert thread started so far has ended within `milliseconds`; the mail
// object lives in a module that must stay loaded until then.
bool WaitForAlertThreads(DWORD milliseconds);

}  // namespace tolvane

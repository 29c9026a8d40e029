// Where the update client and the alert mail join the application shell. Each is a plain
// function the part that implements it installs at start; while none is installed the
// shell knows it cannot download or mail, and says so through its results.
#pragma once

namespace tolvane {

// Runs one update (signature files and engine modules) to its end and returns whether it
// ran. localDate is the stored "VirusDefsDate", empty when the engine has never stored
// one, which makes every published file newer than the local ones.
using UpdateRunner = bool (*)(const char* localDate);
void SetUpdateRunner(UpdateRunner runner);
bool UpdateAvailable();
bool RunUpdate(const char* localDate);

// Starts the mail to the administrator about a detection on a thread of its own.
using AlertStarter = void (*)();
void SetAdminAlertStarter(AlertStarter starter);
// False when no alert mail is built into the program.
bool StartAdminAlert();

}  // namespace tolvane

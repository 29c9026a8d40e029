// "Tolvane.lnk" in the current user's Startup folder, present exactly when the program
// should start with Windows. It also makes the installation directory the program's
// current directory, where the update client puts its files.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

// Creates (loadOnStartup non-zero) or deletes the shortcut. A Startup folder that cannot
// be found is reported with a message; other failures only make the result false.
bool StartupShortcut(std::int32_t loadOnStartup);
// Path of the shortcut; empty when the Startup folder cannot be found.
std::string StartupShortcutPath();

}  // namespace tolvane

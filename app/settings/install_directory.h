// Where Tolvane is installed and which program file is running.
#pragma once

#include <string>

namespace tolvane {

// Full path of the running program file.
std::string RunningExecutable();
// The folder of the program file the installer recorded in
// HKLM\SOFTWARE\Ostrimark\Tolvane\3.5 "Path", without a trailing backslash; the running
// program's folder when that value is missing or names no folder.
std::string InstallDirectory();
// The text before the last backslash; empty when there is none.
std::string FolderOf(const std::string& path);

}  // namespace tolvane

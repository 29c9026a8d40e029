// Autostart lines of the profile files: "load=" and "run=" in [windows] of WIN.INI and
// "shell=" in [boot] of system.ini name programs that Windows starts with the shell.
#pragma once

#include <string>

namespace tolvane {

// Drops from the space-separated `value` every token that begins with `fileName` (any
// letter case), so "trojan.exe" and "TROJAN.EXE,x" go while "C:\WINDOWS\trojan.exe"
// stays. Every kept token is followed by one space. Returns whether a token was dropped;
// an absent key ("-NONE-"), an empty value or an empty file name change nothing.
bool StripFileTokens(const std::string& value, const std::string& fileName, std::string& newValue);

// Applies StripFileTokens to the three lines and writes back only those that changed.
void CleanIniAutostart(const std::string& fileName);

}  // namespace tolvane

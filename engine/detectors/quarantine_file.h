// Names and places of quarantine files; the layout itself is shared with the program in
// quarantine_format.h.
#pragma once

#include "quarantine_format.h"

#include <string>

namespace tolvane {

// Quarantine file name for a file name: a name that begins with a space (the Back Orifice
// server's own " .exe") becomes "BACKORIFICE.KWR", any other keeps its extension and gains
// ".KWR".
std::string QuarantineFileName(const std::string& fileName);

// A destination path too long for the system's 260-character buffers is cut to its first
// 130 characters and ".KWR".
std::string FitQuarantinePath(const std::string& destination);

}  // namespace tolvane

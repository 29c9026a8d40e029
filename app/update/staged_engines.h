// New engine modules that the update client staged as "kwreng32.tmp" and "hyseng32.tmp"
// in the current directory, put in place at exit when the engines are no longer loaded.
#pragma once

#include "settings/app_settings.h"

#include <optional>

namespace tolvane {

enum class EngineSwap {
    NothingStaged,  // no modules downloaded by this run and none left waiting by an earlier one
    Swapped,        // both modules replaced, their version stored, the staged files deleted
    Kept,           // not (wholly) put in place: the staged files and their version wait
};

// Puts the staged modules over the ones in the plug-in folder ("PluginsDir"). `downloaded`
// is the version of the modules this run staged; without it, modules that an earlier run
// could not put in place are tried again with the version it recorded. Each module is
// first copied beside the installed one and moved over it only when both copies are
// whole, so a failed copy (a full disk) never leaves the folder without a module. The new
// version is stored only with both modules in place: a version the installed modules do
// not have would keep the update client from offering them again.
EngineSwap SwapStagedEngines(const std::optional<EngineVersion>& downloaded);

// Records that staged modules of `version` wait for an exit that can put them in place,
// for when this run may end before its own exit does (Windows ending the session).
bool RecordStagedEngines(const EngineVersion& version);

}  // namespace tolvane

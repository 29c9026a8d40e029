// New engine modules that the update client staged as "kwreng32.tmp" and "hyseng32.tmp"
// in the current directory, put in place at exit when the engines are no longer loaded.
#pragma once

#include "app_settings.h"

namespace tolvane {

// Copies both staged modules over the ones in the plug-in folder ("PluginsDir") and
// deletes the staged files. The new version is recorded only when both were copied: a
// version the installed modules do not have would keep the update client from offering
// them again. True when both were copied.
bool SwapStagedEngines(const EngineVersion& stagedVersion);

}  // namespace tolvane

// The records every part of the program reads: the settings and the installed engine
// version, process-wide from start to exit. The application object loads them at start
// and saves them at exit; until then they hold their defaults.
#pragma once

#include "app_settings.h"

namespace tolvane {

AppSettings& Settings();
EngineVersion& InstalledEngineVersion();

}  // namespace tolvane

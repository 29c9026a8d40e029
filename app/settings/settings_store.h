// The settings and the engine version in the registry, under
// HKEY_LOCAL_MACHINE\SOFTWARE\Ostrimark\Tolvane. Registry failures are silent: a value
// that cannot be taken leaves its field as it was, a key that cannot be made skips its
// writes.
#pragma once

#include "app_settings.h"

namespace tolvane {

extern const char kProductKeyPath[];  // SOFTWARE\Ostrimark\Tolvane

// True when both the main key and its AdminAlert key could be opened.
bool LoadSettings(AppSettings& settings);
// Writes every setting but the update options, then keeps the start-up shortcut in step
// with LoadOnStartup. Always true.
bool SaveSettings(const AppSettings& settings);
// False when the Engine key is missing.
bool LoadEngineVersion(EngineVersion& version);
// False when the Engine key cannot be created.
bool SaveEngineVersion(const EngineVersion& version);
// The four update options; with no UpdateOptions key at all, the maker's defaults.
void LoadUpdateOptions(AppSettings& settings);

}  // namespace tolvane

// Applies and removes registration scripts kept as "REGISTRY" resources of a module.
#pragma once

#include "registry_script.h"

#include <windows.h>

namespace tolvane {

HRESULT ApplyRegistryScript(const RegistryScript& script);
HRESULT RemoveRegistryScript(const RegistryScript& script);

// Loads REGISTRY resource `id` of `module`, puts the module's path in for %MODULE%, and
// registers (true) or removes (false) it.
HRESULT RunModuleRegistryScript(HMODULE module, UINT id, bool registering);

// Deletes a key with everything below it; ERROR_SUCCESS also when it was not there.
LONG DeleteKeyTree(HKEY parent, const char* name);

}  // namespace tolvane

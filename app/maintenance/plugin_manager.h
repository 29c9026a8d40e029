// The plug-ins of the plug-in folder: what each says about itself through its exports,
// and installing or removing one through its own COM self-registration.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

struct PluginEntry {
    std::string name;            // from GetPluginName; at most 255 characters
    std::int32_t installed = 0;  // IsPluginRegistered when the manager opened
    std::string path;            // plug-in folder + "\" + file name
    std::int32_t critical = 0;   // IsCriticalPlugin: may not be removed
};

// The longest name the lists take; a longer one is cut.
constexpr std::size_t kPluginNameMax = 255;

// HKLM\SOFTWARE\Ostrimark\Tolvane "PluginsDir"; empty when the key or the value is missing.
std::string PluginsDirectory();

// The name in the buffer GetPluginName filled: up to its first zero, never more than
// kPluginNameMax characters, as a plug-in may leave the buffer unterminated.
std::string PluginNameFromBuffer(const char* buffer, std::size_t size);

// True when the file is an image built for another kind of machine than this program (a
// 32-bit module in the 64-bit edition, or the reverse). Such a module cannot load here,
// and the manager refuses it before asking the loader, as a module that fails to load.
// False when the file's headers do not read as an image at all: the loader judges those.
bool IsModuleOfOtherKind(const std::string& path);

// Loads the DLL only for the questions; false when it cannot be loaded (a module of the
// other kind included) or has no GetPluginName. Missing IsPluginRegistered or
// IsCriticalPlugin answer 0.
bool QueryPlugin(const std::string& path, PluginEntry& entry);

// Every plug-in in folder + "\*.dll", in the order the system lists them.
std::vector<PluginEntry> FindPlugins(const std::string& folder);

// Calls the plug-in's DllRegisterServer (install) or DllUnregisterServer; a failure is
// shown with the plug-in's name (57402 to 57407). A module of the other kind is not
// loaded, and is shown as one that failed to load (57402, 57405). True when the call
// succeeded.
bool ChangePluginRegistration(const PluginEntry& entry, bool install);

}  // namespace tolvane

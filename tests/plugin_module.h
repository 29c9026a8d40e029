// An engine module loaded by path from beside the test program, with its plug-in
// exports at hand as the plug-in manager calls them.
#pragma once

#include "unique_handle.h"

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

namespace tolvane::test {

class PluginModule {
public:
    explicit PluginModule(const std::string& fileName);

    bool Loaded() const { return static_cast<bool>(module_); }
    const std::string& Path() const { return path_; }
    HMODULE Handle() const { return module_.get(); }
    FARPROC Export(const char* name) const { return ::GetProcAddress(module_.get(), name); }

    // DllCanUnloadNow, DllRegisterServer, DllUnregisterServer.
    HRESULT Call(const char* name) const;
    // IsPluginRegistered, IsCriticalPlugin.
    int IntCall(const char* name) const;
    int GetPluginName(char* buffer) const;
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) const;

private:
    std::string path_;
    unique_hmodule module_;
};

struct TypeMember {
    const wchar_t* name;
    DISPID id;
    const wchar_t* help;  // "method Init", "property LastError"
};

// Loads TYPELIB 1 of the module without registering it, and checks the library's name
// and help string; null (with a failure recorded) when it cannot be loaded.
ITypeLib* LoadModuleTypeLib(const PluginModule& module, const wchar_t* name, const wchar_t* help);
// Each member is found by its name at its dispatch id and carries its help string.
void ExpectTypeMembers(ITypeInfo* info, const std::vector<TypeMember>& members);

// Each of the seven exports is found by its name and by its ordinal, 1 to 7 in order.
void ExpectSevenPluginExports(const PluginModule& module);

}  // namespace tolvane::test

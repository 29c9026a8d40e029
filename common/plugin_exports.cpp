// The seven exports of an engine module (ordinals 1 to 7 come from its .def file) and
// its entry point. Linked into each engine DLL, which supplies ThisPlugin().
#include "com_module.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        tolvane::SetModuleInstance(instance);
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() { return tolvane::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return tolvane::ModuleGetClassObject(clsid, riid, object);
}

STDAPI DllRegisterServer() { return tolvane::ModuleRegisterServer(); }

STDAPI DllUnregisterServer() { return tolvane::ModuleUnregisterServer(); }

int WINAPI GetPluginName(char* buffer) { return tolvane::ModuleGetPluginName(buffer); }

int WINAPI IsPluginRegistered() { return tolvane::ModuleIsPluginRegistered(); }

int WINAPI IsCriticalPlugin() { return tolvane::ThisPlugin().critical; }

}  // extern "C"

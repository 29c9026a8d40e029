#include "com_module.h"

#include "registrar.h"
#include "unique_handle.h"

#include <wrl/client.h>

#include <cstring>
#include <string>

using Microsoft::WRL::ComPtr;

namespace tolvane {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_locks = 0;

std::wstring ModulePathW() {
    wchar_t path[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(g_instance, path, MAX_PATH);
    return std::wstring(path, n);
}

// The module's type library, loaded on first use and kept for the life of the module.
ITypeLib* ModuleTypeLib(HRESULT& hr) {
    static ITypeLib* library = nullptr;
    static CRITICAL_SECTION* guard = [] {
        static CRITICAL_SECTION cs;
        ::InitializeCriticalSection(&cs);
        return &cs;
    }();
    ::EnterCriticalSection(guard);
    hr = S_OK;
    if (!library) hr = ::LoadTypeLibEx(ModulePathW().c_str(), REGKIND_NONE, &library);
    ITypeLib* result = library;
    ::LeaveCriticalSection(guard);
    return result;
}

}  // namespace

HINSTANCE ModuleInstance() { return g_instance; }
void SetModuleInstance(HINSTANCE instance) { g_instance = instance; }
void LockModule() { ::InterlockedIncrement(&g_locks); }
void UnlockModule() { ::InterlockedDecrement(&g_locks); }
LONG ModuleLockCount() { return ::InterlockedCompareExchange(&g_locks, 0, 0); }

STDMETHODIMP ClassFactory::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() {
    ULONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(riid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) {
    if (lock)
        LockModule();
    else
        UnlockModule();
    return S_OK;
}

HRESULT GetModuleTypeInfo(REFIID iid, ITypeInfo** info) {
    HRESULT hr;
    ITypeLib* library = ModuleTypeLib(hr);
    if (!library) return FAILED(hr) ? hr : E_UNEXPECTED;
    return library->GetTypeInfoOfGuid(iid, info);
}

HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    const PluginDescription& plugin = ThisPlugin();
    for (int i = 0; i < plugin.classCount; ++i) {
        if (*plugin.classes[i].clsid != clsid) continue;
        auto factory = new (std::nothrow) ClassFactory(plugin.classes[i].create);
        if (!factory) return E_OUTOFMEMORY;
        HRESULT hr = factory->QueryInterface(riid, object);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleRegisterServer() {
    const PluginDescription& plugin = ThisPlugin();
    for (int i = 0; i < plugin.classCount; ++i) {
        HRESULT hr = RunModuleRegistryScript(g_instance, plugin.classes[i].registryScript, true);
        if (FAILED(hr)) return hr;
    }
    std::wstring path = ModulePathW();
    ComPtr<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    std::wstring helpDir = path.substr(0, path.find_last_of(L'\\'));
    return ::RegisterTypeLib(library.Get(), const_cast<wchar_t*>(path.c_str()),
                             const_cast<wchar_t*>(helpDir.c_str()));
}

HRESULT ModuleUnregisterServer() {
    const PluginDescription& plugin = ThisPlugin();
    for (int i = 0; i < plugin.classCount; ++i)
        RunModuleRegistryScript(g_instance, plugin.classes[i].registryScript, false);
    return S_OK;
}

int ModuleGetPluginName(char* buffer) {
    char name[MAX_PATH];
    int length = ::LoadStringA(g_instance, ThisPlugin().nameString, name, sizeof name);
    if (length <= 0 || !buffer) return 0;
    std::memcpy(buffer, name, static_cast<std::size_t>(length) + 1);
    return 1;
}

int ModuleIsPluginRegistered() {
    HRESULT init = ::CoInitialize(nullptr);
    ComPtr<IUnknown> object;
    HRESULT hr = ::CoCreateInstance(*ThisPlugin().engineClass, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(&object));
    object.Reset();
    if (SUCCEEDED(init)) ::CoUninitialize();
    return SUCCEEDED(hr) ? 1 : 0;
}

}  // namespace tolvane

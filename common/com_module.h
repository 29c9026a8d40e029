// COM server plumbing shared by the engine modules: the module's lock count, a class
// factory per class, IDispatch served from the module's own type library, and the
// seven plug-in exports built from a description of the module.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

#include <new>

namespace tolvane {

// ---- module state ----------------------------------------------------------------

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);
void LockModule();
void UnlockModule();
LONG ModuleLockCount();

// ---- class factory ---------------------------------------------------------------

using CreateInstanceFn = HRESULT (*)(REFIID riid, void** object);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateInstanceFn create) : create_(create) { LockModule(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory() { UnlockModule(); }
    LONG refs_ = 1;
    CreateInstanceFn create_;
};

// Creates a T (whose constructor locks the module), asks it for riid and drops the
// creation reference: on failure the object is gone again.
template <typename T>
HRESULT CreateComObject(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    T* created = new (std::nothrow) T();
    if (!created) return E_OUTOFMEMORY;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
}

// ---- IDispatch from the module's type library ------------------------------------

// The ITypeInfo of `iid` from TYPELIB 1 of this module, loaded once and kept.
HRESULT GetModuleTypeInfo(REFIID iid, ITypeInfo** info);

// Implements the four IDispatch methods of a dual interface by forwarding to its
// ITypeInfo, with `this` as the object Invoke calls into.
template <typename Interface, const IID* Iid>
class DispatchImpl : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return GetModuleTypeInfo(*Iid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = GetModuleTypeInfo(*Iid, &info);
        if (FAILED(hr)) return hr;
        hr = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = GetModuleTypeInfo(*Iid, &info);
        if (FAILED(hr)) return hr;
        hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, exception,
                          argError);
        info->Release();
        return hr;
    }
};

// A dual-interface COM object of this module: its reference count, the module lock it
// holds while it lives, and QueryInterface for IUnknown, IDispatch, the interface and
// any interfaces it derives from (`Also`). The count is changed only with Interlocked
// calls, so free-threaded classes use it too.
template <typename Interface, const IID* Iid, const IID*... Also>
class DualObject : public DispatchImpl<Interface, Iid> {
public:
    DualObject() { LockModule(); }
    DualObject(const DualObject&) = delete;
    DualObject& operator=(const DualObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == *Iid || ((riid == *Also) || ...)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = ::InterlockedDecrement(&refs_);
        if (refs == 0) delete this;
        return refs;
    }

protected:
    virtual ~DualObject() { UnlockModule(); }

private:
    LONG refs_ = 1;
};

// ---- the module's classes and plug-in answers ------------------------------------

struct ComClassEntry {
    const CLSID* clsid;
    CreateInstanceFn create;
    UINT registryScript;  // id of the REGISTRY resource
};

struct PluginDescription {
    const ComClassEntry* classes;
    int classCount;
    const CLSID* engineClass;  // what IsPluginRegistered tries to create
    UINT nameString;           // string table id of the plug-in name
    int critical;              // IsCriticalPlugin
};

// The module's description; each engine module defines it once.
const PluginDescription& ThisPlugin();

HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID riid, void** object);
HRESULT ModuleRegisterServer();
HRESULT ModuleUnregisterServer();
int ModuleGetPluginName(char* buffer);
int ModuleIsPluginRegistered();

}  // namespace tolvane

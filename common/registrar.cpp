#include "registrar.h"

#include "unique_handle.h"

#include <cstdlib>
#include <string>

namespace tolvane {
namespace {

HKEY RootKey(const std::string& name) {
    if (name == "HKCR" || name == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
    if (name == "HKLM" || name == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    if (name == "HKCU" || name == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    if (name == "HKU" || name == "HKEY_USERS") return HKEY_USERS;
    return nullptr;
}

LONG SetValue(HKEY key, const RegistryScriptValue& value) {
    const char* name = value.name.empty() ? nullptr : value.name.c_str();
    if (value.type == 'd') {
        DWORD number = std::strtoul(value.data.c_str(), nullptr, 0);
        return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                sizeof number);
    }
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                            static_cast<DWORD>(value.data.size() + 1));
}

LONG ApplyKey(HKEY parent, const RegistryScriptKey& key) {
    using Flag = RegistryScriptKey::Flag;
    if (key.flag == Flag::Delete) return DeleteKeyTree(parent, key.name.c_str());
    if (key.flag == Flag::ForceRemove) {
        LONG r = DeleteKeyTree(parent, key.name.c_str());
        if (r != ERROR_SUCCESS) return r;
    }
    unique_hkey opened;
    LONG r = ::RegCreateKeyExA(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, opened.put(), nullptr);
    if (r != ERROR_SUCCESS) return r;
    if (key.defaultValue && (r = SetValue(opened.get(), *key.defaultValue)) != ERROR_SUCCESS) return r;
    for (const auto& value : key.values)
        if ((r = SetValue(opened.get(), value)) != ERROR_SUCCESS) return r;
    for (const auto& sub : key.subkeys)
        if ((r = ApplyKey(opened.get(), sub)) != ERROR_SUCCESS) return r;
    return ERROR_SUCCESS;
}

void RemoveKey(HKEY parent, const RegistryScriptKey& key) {
    if (key.flag != RegistryScriptKey::Flag::NoRemove) {
        DeleteKeyTree(parent, key.name.c_str());
        return;
    }
    unique_hkey opened;
    if (::RegOpenKeyExA(parent, key.name.c_str(), 0, KEY_ALL_ACCESS, opened.put()) != ERROR_SUCCESS)
        return;
    for (const auto& value : key.values)
        ::RegDeleteValueA(opened.get(), value.name.empty() ? nullptr : value.name.c_str());
    for (const auto& sub : key.subkeys) RemoveKey(opened.get(), sub);
}

std::string ModulePath(HMODULE module) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
    return std::string(path, n);
}

}  // namespace

LONG DeleteKeyTree(HKEY parent, const char* name) {
    unique_hkey key;
    LONG r = ::RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, key.put());
    if (r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (r != ERROR_SUCCESS) return r;
    char child[256];
    for (;;) {
        DWORD size = sizeof child;
        // Always the first child: each one is gone before the next enumeration.
        r = ::RegEnumKeyExA(key.get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;
        if ((r = DeleteKeyTree(key.get(), child)) != ERROR_SUCCESS) return r;
    }
    key.reset();
    return ::RegDeleteKeyA(parent, name);
}

HRESULT ApplyRegistryScript(const RegistryScript& script) {
    for (const auto& root : script.roots) {
        HKEY rootKey = RootKey(root.root);
        if (!rootKey) return E_INVALIDARG;
        for (const auto& key : root.keys) {
            LONG r = ApplyKey(rootKey, key);
            if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
        }
    }
    return S_OK;
}

HRESULT RemoveRegistryScript(const RegistryScript& script) {
    for (const auto& root : script.roots)
        if (HKEY rootKey = RootKey(root.root))
            for (const auto& key : root.keys) RemoveKey(rootKey, key);
    return S_OK;
}

HRESULT RunModuleRegistryScript(HMODULE module, UINT id, bool registering) {
    HRSRC resource = ::FindResourceA(module, MAKEINTRESOURCEA(id), "REGISTRY");
    HGLOBAL loaded = resource ? ::LoadResource(module, resource) : nullptr;
    const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    if (!data) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    std::string_view text(data, ::SizeofResource(module, resource));
    auto script = ParseRegistryScript(text, {{"MODULE", ModulePath(module)}});
    if (!script) return E_UNEXPECTED;
    return registering ? ApplyRegistryScript(*script) : RemoveRegistryScript(*script);
}

}  // namespace tolvane

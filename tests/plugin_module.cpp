#include "plugin_module.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace tolvane::test {

PluginModule::PluginModule(const std::string& fileName)
    : path_(ModuleDirectory() + "\\" + fileName), module_(::LoadLibraryA(path_.c_str())) {}

HRESULT PluginModule::Call(const char* name) const {
    using ComCall = HRESULT(STDAPICALLTYPE*)();
    return reinterpret_cast<ComCall>(Export(name))();
}

int PluginModule::IntCall(const char* name) const {
    using IntExport = int(WINAPI*)();
    return reinterpret_cast<IntExport>(Export(name))();
}

int PluginModule::GetPluginName(char* buffer) const {
    using GetName = int(WINAPI*)(char*);
    return reinterpret_cast<GetName>(Export("GetPluginName"))(buffer);
}

HRESULT PluginModule::GetClassObject(REFCLSID clsid, REFIID riid, void** object) const {
    using GetClassObjectCall = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    return reinterpret_cast<GetClassObjectCall>(Export("DllGetClassObject"))(clsid, riid, object);
}

void ExpectSevenPluginExports(const PluginModule& module) {
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                           "DllUnregisterServer", "GetPluginName", "IsPluginRegistered",
                           "IsCriticalPlugin"};
    for (int ordinal = 1; ordinal <= 7; ++ordinal) {
        FARPROC byOrdinal = ::GetProcAddress(module.Handle(), MAKEINTRESOURCEA(ordinal));
        EXPECT_NE(nullptr, byOrdinal) << ordinal;
        EXPECT_EQ(module.Export(names[ordinal - 1]), byOrdinal) << names[ordinal - 1];
    }
}

ITypeLib* LoadModuleTypeLib(const PluginModule& module, const wchar_t* name, const wchar_t* help) {
    std::wstring path(module.Path().begin(), module.Path().end());
    ITypeLib* library = nullptr;
    HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    EXPECT_EQ(S_OK, hr) << module.Path();
    if (FAILED(hr)) return nullptr;
    BSTR libraryName = nullptr, libraryHelp = nullptr;
    EXPECT_EQ(S_OK, library->GetDocumentation(-1, &libraryName, &libraryHelp, nullptr, nullptr));
    unique_bstr ownedName(libraryName), ownedHelp(libraryHelp);
    EXPECT_STREQ(name, libraryName);
    EXPECT_STREQ(help, libraryHelp);
    return library;
}

void ExpectTypeMembers(ITypeInfo* info, const std::vector<TypeMember>& members) {
    for (const auto& m : members) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
        MEMBERID id = -1;
        ASSERT_EQ(S_OK, info->GetIDsOfNames(names, 1, &id)) << m.id;
        EXPECT_EQ(m.id, id);
        BSTR help = nullptr;
        ASSERT_EQ(S_OK, info->GetDocumentation(id, nullptr, &help, nullptr, nullptr));
        unique_bstr ownedHelp(help);
        EXPECT_STREQ(m.help, help);
    }
}

}  // namespace tolvane::test

// hyseng32 as Windows and the plug-in manager see it: seven exports, self-registration,
// its one class by class id and its type library for late-bound clients.
#include "hyseng32.h"
#include "plugin_module.h"
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>
#include <string>

using Microsoft::WRL::ComPtr;
using namespace tolvane;
using namespace tolvane::test;

namespace {

const char kClassKey[] = "CLSID\\{00520B23-8942-11D3-8CE4-0080C6F9B0FF}";
const char kTypeLibKey[] = "TypeLib\\{20FD62C1-8942-11D3-8CE4-0080C6F9B0FF}";
const char kProgId[] = "TolvanePrivacyEngine.PrivacyEngine.1";
const char kIndependentProgId[] = "TolvanePrivacyEngine.PrivacyEngine";
const CLSID kScanEngineClass = {0xA942BD41, 0x3FCB, 0x11D2, {0x96, 0xE1, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const CLSID kLegacyPrivacyClass = {0x2EA20421, 0x7782, 0x11D3, {0x8C, 0xE4, 0x00, 0x80, 0xC6, 0xF9, 0xB0, 0xFF}};

class Hyseng32Module : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_.Loaded()) << module_.Path() << " GetLastError " << ::GetLastError(); }
    void TearDown() override {
        if (module_.Loaded()) module_.Call("DllUnregisterServer");
    }

    PluginModule module_{"hyseng32.dll"};
};

std::string ClassString(const std::string& key, const char* name = nullptr) {
    return ReadString(HKEY_CLASSES_ROOT, key, name);
}

}  // namespace

TEST_F(Hyseng32Module, ExportsTheSevenEntryPointsAtTheirOrdinals) { ExpectSevenPluginExports(module_); }

TEST_F(Hyseng32Module, IsANonCriticalPluginNamedTolvanePrivacyEngine) {
    char name[260];
    std::memset(name, 0x5A, sizeof name);
    EXPECT_EQ(1, module_.GetPluginName(name));
    EXPECT_STREQ("Tolvane Privacy Engine", name);
    EXPECT_EQ(0x5A, name[sizeof "Tolvane Privacy Engine"]) << "nothing written past the name";
    EXPECT_EQ(0, module_.IntCall("IsCriticalPlugin"));
}

TEST_F(Hyseng32Module, RegistrationWritesTheClassAndItsProgIds) {
    ASSERT_EQ(S_OK, module_.Call("DllRegisterServer"));
    EXPECT_EQ("PrivacyEngine Class", ClassString(kProgId));
    EXPECT_EQ("PrivacyEngine Class", ClassString(kIndependentProgId));
    EXPECT_EQ(kProgId, ClassString(std::string(kIndependentProgId) + "\\CurVer"));
    EXPECT_EQ("PrivacyEngine Class", ClassString(kClassKey));
    EXPECT_EQ(kProgId, ClassString(std::string(kClassKey) + "\\ProgID"));
    EXPECT_EQ(kIndependentProgId, ClassString(std::string(kClassKey) + "\\VersionIndependentProgID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Programmable"));
    EXPECT_EQ("{20FD62C1-8942-11D3-8CE4-0080C6F9B0FF}", ClassString(std::string(kClassKey) + "\\TypeLib"));
    std::string server = std::string(kClassKey) + "\\InprocServer32";
    EXPECT_TRUE(SamePath(module_.Path(), ClassString(server))) << ClassString(server);
    EXPECT_EQ("Apartment", ClassString(server, "ThreadingModel"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));

    for (const wchar_t* progId : {L"TolvanePrivacyEngine.PrivacyEngine.1", L"TolvanePrivacyEngine.PrivacyEngine"}) {
        CLSID clsid{};
        EXPECT_EQ(S_OK, ::CLSIDFromProgID(progId, &clsid));
        EXPECT_TRUE(clsid == CLSID_PrivacyEngine);
    }
    ComPtr<IPrivacyEngine> engine;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_PrivacyEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine)));
    ComPtr<IDispatch> dispatch;
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(S_OK, engine.As(&dispatch));
    engine.As(&a);
    dispatch.As(&b);
    EXPECT_EQ(a.Get(), b.Get()) << "one object answers every interface";
}

TEST_F(Hyseng32Module, IsRegisteredFollowsRegistrationAndUnregistration) {
    ASSERT_EQ(S_OK, module_.Call("DllRegisterServer"));
    EXPECT_EQ(1, module_.IntCall("IsPluginRegistered"));
    EXPECT_EQ(S_OK, module_.Call("DllUnregisterServer"));
    EXPECT_EQ(0, module_.IntCall("IsPluginRegistered"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kProgId));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kIndependentProgId));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey)) << "the type library stays registered";
    EXPECT_EQ(S_OK, module_.Call("DllUnregisterServer")) << "nothing left to remove is still success";
    EXPECT_EQ(S_OK, module_.Call("DllRegisterServer"));
    EXPECT_EQ(1, module_.IntCall("IsPluginRegistered"));
}

TEST_F(Hyseng32Module, ServesOnlyThePrivacyEngineClassAndCountsLocks) {
        for (const CLSID* other : {&kScanEngineClass, &kLegacyPrivacyClass}) {
        void* object = reinterpret_cast<void*>(0xDEADBEEF);
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, module_.GetClassObject(*other, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
    }
    EXPECT_EQ(S_OK, module_.Call("DllCanUnloadNow"));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, module_.GetClassObject(CLSID_PrivacyEngine, IID_PPV_ARGS(&factory)));
    ComPtr<IPrivacyEngine> engine;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&engine)));
    factory.Reset();
    EXPECT_EQ(S_FALSE, module_.Call("DllCanUnloadNow")) << "an engine is alive";
    engine.Reset();
    EXPECT_EQ(S_OK, module_.Call("DllCanUnloadNow"));
}

TEST_F(Hyseng32Module, TypeLibraryDescribesEveryMemberWithItsHelpString) {
    ComPtr<ITypeLib> library;
    library.Attach(LoadModuleTypeLib(module_, L"TOLVANEPRIVACYENGINELib", L"TolvanePrivacyEngine 1.0 Type Library"));
    ASSERT_TRUE(library);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_TRUE(attributes->guid == LIBID_TOLVANEPRIVACYENGINELib);
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    library->ReleaseTLibAttr(attributes);

    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IPrivacyEngine, &info));
    ExpectTypeMembers(info.Get(), {
        {L"Init", 1, L"method Init"},             {L"Close", 2, L"method Close"},
        {L"Scan", 3, L"method Scan"},             {L"LoadNewDefs", 4, L"method LoadNewDefs"},
        {L"LastError", 5, L"property LastError"}, {L"ProcessList", 6, L"property ProcessList"},
    });
    ComPtr<ITypeInfo> coclass;
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_PrivacyEngine, &coclass));
}

TEST_F(Hyseng32Module, LateBoundClientScansThroughDispatch) {
    ASSERT_EQ(S_OK, module_.Call("DllRegisterServer"));
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / "psigs.kws", SignatureFileBytes({})));
    std::string previous = CurrentDirectory();
    ::SetCurrentDirectoryA(dir.path().c_str());
    auto restore = scope_exit([&] { ::SetCurrentDirectoryA(previous.c_str()); });

    ComPtr<IDispatch> engine;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_PrivacyEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine)));
    auto invoke = [&](const wchar_t* name, WORD flags, VARIANT* result) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = -1;
        EXPECT_EQ(S_OK, engine->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << name;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (result) ::VariantInit(result);
        return engine->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, nullptr, nullptr);
    };
    VARIANT result;
    EXPECT_EQ(S_OK, invoke(L"Init", DISPATCH_METHOD, nullptr));
    EXPECT_EQ(S_OK, invoke(L"Scan", DISPATCH_METHOD, &result));
    EXPECT_EQ(0, V_I4(&result));
    EXPECT_EQ(S_OK, invoke(L"ProcessList", DISPATCH_PROPERTYGET, &result));
    EXPECT_EQ(VT_ARRAY | VT_BSTR, V_VT(&result));
    ::VariantClear(&result);
    EXPECT_EQ(S_OK, invoke(L"LastError", DISPATCH_PROPERTYGET, &result));
    EXPECT_EQ(1u, V_UI4(&result));
    EXPECT_EQ(S_OK, invoke(L"Close", DISPATCH_METHOD, nullptr));
    ::DeleteFileA((dir / "psigs.kws").c_str());
    EXPECT_NE(S_OK, invoke(L"LoadNewDefs", DISPATCH_METHOD, nullptr));
    EXPECT_EQ(S_OK, invoke(L"LastError", DISPATCH_PROPERTYGET, &result));
    EXPECT_EQ(57362u, V_UI4(&result));
}

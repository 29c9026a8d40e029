// kwreng32 as Windows sees it: a DLL with seven exports that registers itself, serves
// its classes by class id and answers late-bound clients from its type library.
#include "kwreng32.h"
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

const char kClassKey[] = "CLSID\\{A942BD41-3FCB-11D2-96E1-444553540000}";
const char kTypeLibKey[] = "TypeLib\\{80951144-3F67-11D2-96E1-444553540000}";
const CLSID kLegacyPrivacyClass = {0x2EA20421, 0x7782, 0x11D3, {0x8C, 0xE4, 0x00, 0x80, 0xC6, 0xF9, 0xB0, 0xFF}};

using GetClassObjectCall = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class Kwreng32Module : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module_.Loaded()) << path_ << " GetLastError " << ::GetLastError(); }
    void TearDown() override {
        if (module_.Loaded()) Call("DllUnregisterServer");
    }

    FARPROC Export(const char* name) { return module_.Export(name); }
    HRESULT Call(const char* name) { return module_.Call(name); }
    int IsRegistered() { return module_.IntCall("IsPluginRegistered"); }

    PluginModule module_{"kwreng32.dll"};
    const std::string path_ = module_.Path();
};

}  // namespace

TEST_F(Kwreng32Module, ExportsTheSevenEntryPointsAtTheirOrdinals) { ExpectSevenPluginExports(module_); }

TEST_F(Kwreng32Module, AnswersThePluginQueries) {
    char name[260];
    std::memset(name, 0x5A, sizeof name);
    EXPECT_EQ(1, module_.GetPluginName(name));
    EXPECT_STREQ("Tolvane Scan Engine", name);
    EXPECT_EQ(1, module_.IntCall("IsCriticalPlugin"));
}

TEST_F(Kwreng32Module, RegistrationWritesTheScriptAndMakesTheClassCreatable) {
    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    EXPECT_EQ("ScanEngine Class", ReadString(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine.1", nullptr));
    EXPECT_EQ("{A942BD41-3FCB-11D2-96E1-444553540000}",
              ReadString(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine.1\\CLSID", nullptr));
    EXPECT_EQ("ScanEngine.ScanEngine.1", ReadString(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine\\CurVer", nullptr));
    EXPECT_EQ("ScanEngine Class", ReadString(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine", nullptr));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine\\CLSID")) << "only CurVer names the class";
    EXPECT_EQ("ScanEngine Class", ReadString(HKEY_CLASSES_ROOT, kClassKey, nullptr));
    EXPECT_EQ("ScanEngine.ScanEngine.1", ReadString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\ProgID", nullptr));
    EXPECT_EQ("ScanEngine.ScanEngine",
              ReadString(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\VersionIndependentProgID", nullptr));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\Programmable"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kClassKey) + "\\TypeLib"));
    std::string server = std::string(kClassKey) + "\\InprocServer32";
    EXPECT_TRUE(SamePath(path_, ReadString(HKEY_CLASSES_ROOT, server, nullptr)))
        << ReadString(HKEY_CLASSES_ROOT, server, nullptr);
    EXPECT_EQ("Apartment", ReadString(HKEY_CLASSES_ROOT, server, "ThreadingModel"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));

    ComPtr<IScanEngine> engine;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_ScanEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine)));
    ComPtr<IScanEngineShellExtHelper> helper;
    ComPtr<IDispatch> dispatch;
    ComPtr<IUnknown> a, b;
    ASSERT_EQ(S_OK, engine.As(&helper));
    ASSERT_EQ(S_OK, engine.As(&dispatch));
    engine.As(&a);
    helper.As(&b);
    EXPECT_EQ(a.Get(), b.Get()) << "one object answers every interface";
    ComPtr<IEmail> notAnEmail;
    EXPECT_EQ(E_NOINTERFACE, engine.As(&notAnEmail));
}

TEST_F(Kwreng32Module, UnregistrationRemovesTheClassButKeepsClsidAndTypeLibrary) {
    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    EXPECT_EQ(1, IsRegistered());
    EXPECT_EQ(S_OK, Call("DllUnregisterServer"));
    EXPECT_EQ(0, IsRegistered());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine.1"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "ScanEngine.ScanEngine"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_EQ(S_OK, Call("DllUnregisterServer")) << "nothing left to remove is still success";
    EXPECT_EQ(S_OK, Call("DllRegisterServer"));
    EXPECT_EQ(1, IsRegistered());
}

TEST_F(Kwreng32Module, ServesOnlyItsOwnClassesAndCountsLocks) {
    auto getClassObject = reinterpret_cast<GetClassObjectCall>(Export("DllGetClassObject"));
    void* object = reinterpret_cast<void*>(0xDEADBEEF);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(kLegacyPrivacyClass, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);

    EXPECT_EQ(S_OK, Call("DllCanUnloadNow"));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(CLSID_ScanEngine, IID_IClassFactory, &factory));
    EXPECT_EQ(S_FALSE, Call("DllCanUnloadNow"));

    ComPtr<IUnknown> outer;
    factory.As(&outer);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_IUnknown, &aggregated));
    EXPECT_EQ(nullptr, aggregated.Get());
    outer.Reset();

    ComPtr<IScanEngine> engine;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&engine)));
    factory->LockServer(TRUE);
    factory.Reset();
    EXPECT_EQ(S_FALSE, Call("DllCanUnloadNow"));
    engine.Reset();
    EXPECT_EQ(S_FALSE, Call("DllCanUnloadNow")) << "the server lock still holds";
    ASSERT_EQ(S_OK, getClassObject(CLSID_ScanEngine, IID_PPV_ARGS(&factory)));
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(S_OK, Call("DllCanUnloadNow"));

    ASSERT_EQ(S_OK, getClassObject(CLSID_Email, IID_PPV_ARGS(&factory)));
    ComPtr<IEmail> email;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&email)));
    factory.Reset();
    EXPECT_EQ(S_FALSE, Call("DllCanUnloadNow")) << "a live Email object holds the module";
    email.Reset();
    EXPECT_EQ(S_OK, Call("DllCanUnloadNow"));
}

TEST_F(Kwreng32Module, TypeLibraryDescribesEveryMemberWithItsHelpString) {
    ComPtr<ITypeLib> library;
    library.Attach(LoadModuleTypeLib(module_, L"TOLVANESCANENGINELib", L"TolvaneScanEngine 1.0 Type Library"));
    ASSERT_TRUE(library);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IScanEngineShellExtHelper, &info));
    ExpectTypeMembers(info.Get(), {
        {L"DetectOrx", 1, L"method DetectOrx"},       {L"RemoveOrx", 2, L"method RemoveOrx"},
        {L"Init", 3, L"method Init"},                 {L"Close", 4, L"method Close"},
        {L"ScanFile", 5, L"method ScanFile"},         {L"LoadNewDefs", 6, L"method LoadNewDefs"},
        {L"ProcessList", 7, L"property ProcessList"}, {L"Logging", 8, L"property Logging"},
        {L"Silent", 9, L"property Silent"},           {L"LastError", 10, L"property LastError"},
        {L"ScanSelection", 11, L"method ScanSelection"},
        {L"InitShellExtension", 12, L"method InitShellExtension"},
    });
    ComPtr<ITypeInfo> email;
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(IID_IEmail, &email));
}

TEST_F(Kwreng32Module, LateBoundClientReachesEveryMemberByDispatchId) {
    ScopedProductKey productKey;
    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", SignatureFileBytes({{1, 0x1234}})));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\3.5", "Path", dir / "Tolvane.exe"));
    std::string previous = CurrentDirectory();
    ::SetCurrentDirectoryA(dir.path().c_str());
    auto restore = scope_exit([&] { ::SetCurrentDirectoryA(previous.c_str()); });

    ComPtr<IDispatch> engine;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_ScanEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine)));
    auto dispid = [&](const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = -1;
        EXPECT_EQ(S_OK, engine->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << name;
        return id;
    };
    auto invoke = [&](DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        DISPID named = DISPID_PROPERTYPUT;
        if (flags == DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &named;
            params.cNamedArgs = 1;
        }
        return engine->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    };
    auto number = [](long v) {
        VARIANT x;
        V_VT(&x) = VT_I4;
        V_I4(&x) = v;
        return x;
    };

    VARIANT result;
    ::VariantInit(&result);
    // Arguments go in reverse order: Init(bLog = 1, bSilent = 1).
    EXPECT_EQ(S_OK, invoke(dispid(L"Init"), DISPATCH_METHOD, {number(1), number(1)}, nullptr));
    EXPECT_EQ(S_OK, invoke(dispid(L"LastError"), DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(1u, V_UI4(&result));
    EXPECT_EQ(S_OK, invoke(dispid(L"Silent"), DISPATCH_PROPERTYPUT, {number(1)}, nullptr));
    EXPECT_EQ(S_OK, invoke(dispid(L"Logging"), DISPATCH_PROPERTYPUT, {number(1)}, nullptr));
    EXPECT_EQ(S_OK, invoke(dispid(L"LoadNewDefs"), DISPATCH_METHOD, {}, nullptr));

    unique_bstr missing(::SysAllocString(L"C:\\no such file.exe"));
    VARIANT path;
    V_VT(&path) = VT_BSTR;
    V_BSTR(&path) = missing.get();
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"ScanFile"), DISPATCH_METHOD, {path}, &result));
    EXPECT_EQ(1u, V_UI4(&result));

    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"ProcessList"), DISPATCH_PROPERTYGET, {}, &result));
    EXPECT_EQ(VT_ARRAY | VT_BSTR, V_VT(&result));
    ::VariantClear(&result);

    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"RemoveOrx"), DISPATCH_METHOD, {}, &result));
    EXPECT_EQ(1, V_I4(&result));

    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"DetectOrx"), DISPATCH_METHOD, {}, &result));
    EXPECT_EQ(0, V_I4(&result)) << "a clean prefix";

    EXPECT_EQ(S_OK, invoke(dispid(L"Close"), DISPATCH_METHOD, {}, nullptr));
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"InitShellExtension"), DISPATCH_METHOD, {}, &result));

    unsigned long in = 0, out = 0xDEADBEEF;
    VARIANT inArg, outArg;
    V_VT(&inArg) = VT_BYREF | VT_UI4;
    V_UI4REF(&inArg) = &in;
    V_VT(&outArg) = VT_BYREF | VT_UI4;
    V_UI4REF(&outArg) = &out;
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(dispid(L"ScanSelection"), DISPATCH_METHOD, {outArg, inArg}, &result));
    EXPECT_EQ(1u, V_UI4(&result));
    EXPECT_EQ(0xDEADBEEFu, out);
}

namespace {

std::wstring Help(ITypeInfo* info) {
    BSTR help = nullptr;
    EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr));
    unique_bstr owned(help);
    return help ? help : L"<none>";
}

GUID ReferencedGuid(ITypeInfo* info, HREFTYPE ref) {
    ComPtr<ITypeInfo> referenced;
    GUID guid = GUID_NULL;
    if (FAILED(info->GetRefTypeInfo(ref, &referenced))) return guid;
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(referenced->GetTypeAttr(&attr))) {
        guid = attr->guid;
        referenced->ReleaseTypeAttr(attr);
    }
    return guid;
}

// The coclass lists `interfaces` in order, the first as its default.
void ExpectCoclass(ITypeLib* library, REFCLSID clsid, const wchar_t* help, std::vector<const IID*> interfaces) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(clsid, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    UINT count = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(help, Help(info.Get()));
    ASSERT_EQ(interfaces.size(), count);
    for (UINT i = 0; i < count; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(i, &ref));
        ASSERT_EQ(S_OK, info->GetImplTypeFlags(i, &flags));
        EXPECT_TRUE(IsEqualGUID(*interfaces[i], ReferencedGuid(info.Get(), ref))) << "interface " << i;
        EXPECT_EQ(i == 0, (flags & IMPLTYPEFLAG_FDEFAULT) != 0) << "interface " << i;
    }
}

// A dual interface with its help string, its base, and each member at its table slot
// (after the three IUnknown and four IDispatch operations).
void ExpectDualInterface(ITypeLib* library, REFIID iid, const wchar_t* help, REFIID base,
                         std::vector<const wchar_t*> members, int firstSlot) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(iid, &dispatch));
    EXPECT_EQ(help, Help(dispatch.Get()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, dispatch->GetTypeAttr(&attr));
    EXPECT_NE(0, attr->wTypeFlags & TYPEFLAG_FDUAL);
    dispatch->ReleaseTypeAttr(attr);
    HREFTYPE vtableRef = 0;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeOfImplType(-1, &vtableRef));
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(S_OK, dispatch->GetRefTypeInfo(vtableRef, &vtable));
    HREFTYPE baseRef = 0;
    ASSERT_EQ(S_OK, vtable->GetRefTypeOfImplType(0, &baseRef));
    EXPECT_TRUE(IsEqualGUID(base, ReferencedGuid(vtable.Get(), baseRef)));
    ASSERT_EQ(S_OK, vtable->GetTypeAttr(&attr));
    UINT functions = attr->cFuncs;
    vtable->ReleaseTypeAttr(attr);
    ASSERT_EQ(members.size(), functions);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        ASSERT_EQ(S_OK, vtable->GetFuncDesc(i, &function));
        BSTR name = nullptr;
        vtable->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
        unique_bstr owned(name);
        EXPECT_STREQ(members[i], name);
        EXPECT_EQ(static_cast<SHORT>((7 + firstSlot + static_cast<int>(i)) * sizeof(void*)), function->oVft)
            << members[i];
        vtable->ReleaseFuncDesc(function);
    }
}

}  // namespace

TEST_F(Kwreng32Module, TypeLibraryDescribesTheClassesAndTheirInterfaces) {
    ComPtr<ITypeLib> library;
    library.Attach(LoadModuleTypeLib(module_, L"TOLVANESCANENGINELib", L"TolvaneScanEngine 1.0 Type Library"));
    ASSERT_TRUE(library);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(LIBID_TOLVANESCANENGINELib, attr->guid));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    library->ReleaseTLibAttr(attr);

    ExpectCoclass(library.Get(), CLSID_ScanEngine, L"ScanEngine Class",
                  {&IID_IScanEngineShellExtHelper, &IID_IScanEngine});
    ExpectCoclass(library.Get(), CLSID_Email, L"Email Class", {&IID_IEmail});
    ExpectDualInterface(library.Get(), IID_IScanEngine, L"IScanEngine Interface", IID_IDispatch,
                        {L"DetectOrx", L"RemoveOrx", L"Init", L"Close", L"ScanFile", L"LoadNewDefs",
                         L"ProcessList", L"Logging", L"Silent", L"LastError"},
                        0);
    ExpectDualInterface(library.Get(), IID_IScanEngineShellExtHelper, L"IScanEngineShellExtHelper Interface",
                        IID_IScanEngine, {L"ScanSelection", L"InitShellExtension"}, 10);
    ExpectDualInterface(library.Get(), IID_IEmail, L"IEmail Interface", IID_IDispatch,
                        {L"Init", L"SendTestMessage", L"SendMail"}, 0);
}

namespace {

// Reads a 16-bit-aligned dialog template as the dialog manager does.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* at) : at_(at) {}
    template <typename T>
    T Take() {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A name or an ordinal (0xFFFF then the number, shown as "#number").
    std::wstring NameOrOrdinal() {
        WORD first = Take<WORD>();
        if (first == 0xFFFF) return L"#" + std::to_wstring(Take<WORD>());
        std::wstring text;
        for (WORD c = first; c; c = Take<WORD>()) text += static_cast<wchar_t>(c);
        return text;
    }
    void AlignToDword(const BYTE* base) {
        while ((at_ - base) % 4) ++at_;
    }

private:
    const BYTE* at_;
};

struct DialogItem {
    DWORD style;
    short x, y, cx, cy;
    std::wstring className, text;
};

}  // namespace

TEST_F(Kwreng32Module, WaitWindowTemplateHasTheIconAndTheNotice) {
    HRSRC found = ::FindResourceA(module_.Handle(), MAKEINTRESOURCEA(202), MAKEINTRESOURCEA(5));
    ASSERT_TRUE(found);
    auto base = static_cast<const BYTE*>(::LockResource(::LoadResource(module_.Handle(), found)));
    ASSERT_TRUE(base);
    TemplateReader read(base);
    DWORD style = read.Take<DWORD>();
    read.Take<DWORD>();  // extended style
    WORD items = read.Take<WORD>();
    short frame[4];
    for (short& v : frame) v = read.Take<short>();
    const DWORD expectedStyle = WS_POPUP | WS_VISIBLE | DS_MODALFRAME | DS_3DLOOK | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(expectedStyle, style) << std::hex << style;
    EXPECT_EQ(0, style & WS_CAPTION) << "no title bar";
    EXPECT_EQ(185, frame[2]);
    EXPECT_EQ(43, frame[3]);
    EXPECT_EQ(L"", read.NameOrOrdinal()) << "no menu";
    EXPECT_EQ(L"", read.NameOrOrdinal()) << "the standard dialog class";
    EXPECT_EQ(L"", read.NameOrOrdinal()) << "no title";
    EXPECT_EQ(10, read.Take<WORD>());
    EXPECT_EQ(L"MS Sans Serif", read.NameOrOrdinal());
    ASSERT_EQ(2, items);
    std::vector<DialogItem> controls;
    for (WORD i = 0; i < items; ++i) {
        read.AlignToDword(base);
        DialogItem item{};
        item.style = read.Take<DWORD>();
        read.Take<DWORD>();
        item.x = read.Take<short>();
        item.y = read.Take<short>();
        item.cx = read.Take<short>();
        item.cy = read.Take<short>();
        read.Take<WORD>();  // id
        item.className = read.NameOrOrdinal();
        item.text = read.NameOrOrdinal();
        WORD extra = read.Take<WORD>();
        EXPECT_EQ(0, extra);
        controls.push_back(item);
    }
    const DialogItem& icon = controls[0];
    EXPECT_TRUE(icon.className == L"#130" || ::lstrcmpiW(icon.className.c_str(), L"Static") == 0)
        << "a static control";
    EXPECT_EQ(static_cast<DWORD>(SS_ICON), icon.style & SS_TYPEMASK);
    EXPECT_EQ(L"#206", icon.text) << "the engine's icon";
    EXPECT_EQ(11, icon.x);
    EXPECT_EQ(12, icon.y);
    EXPECT_EQ(20, icon.cx);
    EXPECT_EQ(20, icon.cy);
    const DialogItem& notice = controls[1];
    EXPECT_EQ(L"Please wait while Tolvane scans your system.", notice.text);
    EXPECT_EQ(37, notice.x);
    EXPECT_EQ(18, notice.y);
    EXPECT_EQ(141, notice.cx);
    EXPECT_EQ(8, notice.cy);
}

TEST_F(Kwreng32Module, StringsAndVersionResourceCarryTheProductTexts) {
    char text[256] = {};
    ASSERT_GT(::LoadStringA(module_.Handle(), 101, text, sizeof text), 0);
    EXPECT_STREQ("If you receive this message, then AdminAlert is configured properly!\r\n", text);
    ASSERT_GT(::LoadStringA(module_.Handle(), 102, text, sizeof text), 0);
    EXPECT_STREQ("Tolvane Scan Engine", text);

    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeA(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path_.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwProductVersionLS);
    auto value = [&](const char* name) {
        char* found = nullptr;
        UINT chars = 0;
        std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        if (!::VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&found), &chars) || !found)
            return std::string("<missing>");
        return std::string(found);
    };
    EXPECT_EQ("3.0.03", value("FileVersion"));
    EXPECT_EQ("3.0.03", value("ProductVersion"));
    EXPECT_EQ("TolvaneScanEngine Module", value("FileDescription"));
    EXPECT_EQ("TolvaneScanEngine", value("ProductName"));
}

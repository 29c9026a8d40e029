// The Email object as the program uses it: registered by kwreng32, created by class id
// or ProgID on worker threads of either apartment kind, one object per message, sending
// to the loopback server and to the scripted peer.
#include "bstr_text.h"
#include "email.h"
#include "kwreng32.h"
#include "loopback_smtp_sink.h"
#include "registry_support.h"
#include "scripted_smtp_peer.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <future>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace tolvane {

// This program links the Email object itself, and with it the module plumbing, which
// asks every module for its description; as a module the program serves no class.
const PluginDescription& ThisPlugin() {
    static const PluginDescription none{nullptr, 0, &CLSID_ScanEngine, 0, 0};
    return none;
}

namespace {

using test::Identity;
using test::LocalIdentity;
using test::PeerReplies;
using test::ReceivedMail;
using test::ScriptedSmtpPeer;

const char kEmailClsid[] = "{8BB78481-9927-11D2-8CE4-9B8C82045D4B}";
const char kEmailClassKey[] = "CLSID\\{8BB78481-9927-11D2-8CE4-9B8C82045D4B}";
const char kScanEngineClassKey[] = "CLSID\\{A942BD41-3FCB-11D2-96E1-444553540000}";
const char kTypeLib[] = "{80951144-3F67-11D2-96E1-444553540000}";
const char kRecipient[] = "admin@example.com";
constexpr DWORD kShortTimeoutMs = 500;

using ComCall = HRESULT(STDAPICALLTYPE*)();
using IntCall = int(WINAPI*)();

HRESULT InitEmail(IEmail* email, const std::string& subject, int port) {
    unique_bstr server(ToBstr("127.0.0.1")), to(ToBstr(kRecipient)), title(ToBstr(subject));
    return email->Init(server.get(), to.get(), title.get(), static_cast<unsigned long>(port));
}

HRESULT SendMailText(IEmail* email, const std::string& data) {
    unique_bstr text(ToBstr(data));
    unsigned long status = 0;
    return email->SendMail(text.get(), &status);
}

std::string ExpectedBody(const std::string& data) {
    Identity me = LocalIdentity();
    // The end-of-data mark adds the line end that closes the last line.
    return "Machine Name: " + me.host + "\r\nUser Name: " + me.user + "\r\n" + data + "\r\n";
}

// Runs `body` on a thread of its own that joined the apartment kind given.
template <typename F>
auto OnThread(DWORD apartment, F body) {
    return std::async(std::launch::async, [apartment, body] {
        HRESULT joined = ::CoInitializeEx(nullptr, apartment);
        auto leave = scope_exit([joined] {
            if (SUCCEEDED(joined)) ::CoUninitialize();
        });
        return body(joined);
    });
}

class EmailObject : public test::LoopbackSmtpSink {
protected:
    void SetUp() override {
        LoopbackSmtpSink::SetUp();
        if (HasFatalFailure()) return;
        path_ = test::ModuleDirectory() + "\\kwreng32.dll";
        module_.reset(::LoadLibraryA(path_.c_str()));
        ASSERT_TRUE(module_) << path_ << " GetLastError " << ::GetLastError();
        ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    }
    void TearDown() override {
        if (module_) Call("DllUnregisterServer");
    }

    HRESULT Call(const char* name) {
        return reinterpret_cast<ComCall>(::GetProcAddress(module_.get(), name))();
    }
    int IsRegistered() {
        return reinterpret_cast<IntCall>(::GetProcAddress(module_.get(), "IsPluginRegistered"))();
    }
    HRESULT CreateEmail(ComPtr<IEmail>* email) {
        return ::CoCreateInstance(CLSID_Email, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(email->GetAddressOf()));
    }

    std::string path_;
    unique_hmodule module_;
};

// ---- registration ----------------------------------------------------------------

TEST_F(EmailObject, RegistrationWritesTheEmailScript) {
    for (const char* progId : {"TolvaneScanEngine.Email.1", "TolvaneScanEngine.Email"}) {
        SCOPED_TRACE(progId);
        EXPECT_EQ("Email Class", test::ReadString(HKEY_CLASSES_ROOT, progId, nullptr));
        EXPECT_EQ(kEmailClsid, test::ReadString(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", nullptr));
    }
    EXPECT_EQ("TolvaneScanEngine.Email.1",
              test::ReadString(HKEY_CLASSES_ROOT, "TolvaneScanEngine.Email\\CurVer", nullptr));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, "TolvaneScanEngine.Email.1\\CurVer"));

    const std::string key = kEmailClassKey;
    EXPECT_EQ("Email Class", test::ReadString(HKEY_CLASSES_ROOT, key, nullptr));
    EXPECT_EQ("TolvaneScanEngine.Email.1", test::ReadString(HKEY_CLASSES_ROOT, key + "\\ProgID", nullptr));
    EXPECT_EQ("TolvaneScanEngine.Email",
              test::ReadString(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID", nullptr));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, key + "\\Programmable"));
    std::string server = test::ReadString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", nullptr);
    EXPECT_TRUE(test::SamePath(path_, server)) << server;
    EXPECT_EQ("Free", test::ReadString(HKEY_CLASSES_ROOT, key + "\\InprocServer32", "ThreadingModel"));
    EXPECT_EQ(kTypeLib, test::ReadString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr));
    // The dual interface is marshalled by the type library, so an STA can reach the
    // object in the multithreaded apartment.
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, "Interface\\{8BB78480-9927-11D2-8CE4-9B8C82045D4B}"));
}

TEST_F(EmailObject, UnregistrationRemovesTheEmailClassButKeepsClsid) {
    ASSERT_EQ(S_OK, Call("DllUnregisterServer"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, kEmailClassKey));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, "TolvaneScanEngine.Email.1"));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, "TolvaneScanEngine.Email"));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_TRUE(test::KeyExists(HKEY_CLASSES_ROOT, std::string("TypeLib\\") + kTypeLib));
    CLSID clsid;
    EXPECT_TRUE(FAILED(::CLSIDFromProgID(L"TolvaneScanEngine.Email", &clsid)));
    ComPtr<IEmail> email;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateEmail(&email));
}

TEST_F(EmailObject, PluginRegisteredFollowsTheScanEngineClassOnly) {
    EXPECT_EQ(1, IsRegistered());
    test::DeleteTree(HKEY_CLASSES_ROOT, kEmailClassKey);
    EXPECT_EQ(1, IsRegistered()) << "without the Email class";

    ASSERT_EQ(S_OK, Call("DllRegisterServer"));
    test::DeleteTree(HKEY_CLASSES_ROOT, kScanEngineClassKey);
    EXPECT_EQ(0, IsRegistered()) << "with the Email class alone";
    ComPtr<IEmail> email;
    EXPECT_EQ(S_OK, CreateEmail(&email)) << "the Email class is still there";
}

// ---- creation --------------------------------------------------------------------

struct Creation {
    HRESULT joined = E_UNEXPECTED;
    HRESULT byVersionIndependentProgId = E_UNEXPECTED;
    HRESULT byProgId = E_UNEXPECTED;
    bool progIdsNameTheClass = false;
    HRESULT created = E_UNEXPECTED;
    HRESULT asDispatch = E_UNEXPECTED;
    HRESULT asScanEngine = E_UNEXPECTED;
    HRESULT init = E_UNEXPECTED;
};

TEST_F(EmailObject, CreatableByClassIdAndProgIdInEitherApartment) {
    for (DWORD apartment : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
        SCOPED_TRACE(apartment == COINIT_MULTITHREADED ? "multithreaded" : "single-threaded");
        Creation c = OnThread(apartment, [port = port_](HRESULT joined) {
            Creation c;
            c.joined = joined;
            CLSID current = GUID_NULL, versioned = GUID_NULL;
            c.byVersionIndependentProgId = ::CLSIDFromProgID(L"TolvaneScanEngine.Email", &current);
            c.byProgId = ::CLSIDFromProgID(L"TolvaneScanEngine.Email.1", &versioned);
            c.progIdsNameTheClass = current == CLSID_Email && versioned == CLSID_Email;
            ComPtr<IEmail> email;
            c.created = ::CoCreateInstance(current, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&email));
            if (FAILED(c.created)) return c;
            ComPtr<IDispatch> dispatch;
            ComPtr<IScanEngine> engine;
            c.asDispatch = email.As(&dispatch);
            c.asScanEngine = email.As(&engine);
            c.init = InitEmail(email.Get(), "unused", port);
            return c;
        }).get();
        EXPECT_EQ(S_OK, c.joined);
        EXPECT_EQ(S_OK, c.byVersionIndependentProgId);
        EXPECT_EQ(S_OK, c.byProgId);
        EXPECT_TRUE(c.progIdsNameTheClass);
        ASSERT_EQ(S_OK, c.created);
        EXPECT_EQ(S_OK, c.asDispatch);
        EXPECT_EQ(E_NOINTERFACE, c.asScanEngine);
        EXPECT_EQ(S_OK, c.init);
    }
}

// ---- sending ---------------------------------------------------------------------

TEST_F(EmailObject, TestMessageArrivesWithTheModuleText) {
    ComPtr<IEmail> email;
    ASSERT_EQ(S_OK, CreateEmail(&email));
    ASSERT_EQ(S_OK, InitEmail(email.Get(), "COM test message", port_));
    ASSERT_EQ(S_OK, email->SendTestMessage());
    ReceivedMail mail = Received("COM test message");
    EXPECT_EQ("Tolvane", mail.from);
    EXPECT_EQ(std::vector<std::string>{kRecipient}, mail.to);
    EXPECT_EQ(ExpectedBody(test::kTestMessageText), mail.body);
}

TEST_F(EmailObject, RefusedSenderFailsBothSends) {
    PeerReplies replies;
    replies.mail = "550 5.7.1 sender refused\r\n";
    ComPtr<IEmail> email;
    ASSERT_EQ(S_OK, CreateEmail(&email));
    {
        ScriptedSmtpPeer peer(replies);
        ASSERT_EQ(S_OK, InitEmail(email.Get(), "refused", peer.port()));
        EXPECT_EQ(E_FAIL, email->SendTestMessage());
        EXPECT_EQ("MAIL FROM:Tolvane", peer.LastCommand());
    }
    {
        ScriptedSmtpPeer peer(replies);
        ASSERT_EQ(S_OK, InitEmail(email.Get(), "refused", peer.port()));
        EXPECT_EQ(-550, SendMailText(email.Get(), "alert"));
    }
}

TEST_F(EmailObject, LateBoundClientReachesTheThreeMethodsByDispatchId) {
    ComPtr<IDispatch> email;
    ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_Email, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&email)));
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, email->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    const struct { const wchar_t* name; DISPID id; const wchar_t* help; } members[] = {
        {L"Init", 1, L"method Init"},
        {L"SendTestMessage", 2, L"method SendTestMessage"},
        {L"SendMail", 3, L"method SendMail"},
    };
    for (const auto& m : members) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(m.name)};
        DISPID id = -1;
        EXPECT_EQ(S_OK, email->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << m.id;
        EXPECT_EQ(m.id, id);
        BSTR help = nullptr;
        ASSERT_EQ(S_OK, info->GetDocumentation(m.id, nullptr, &help, nullptr, nullptr));
        unique_bstr ownedHelp(help);
        EXPECT_STREQ(m.help, help);
    }

    auto text = [](const std::string& value) {
        VARIANT v;
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ToBstr(value);
        return v;
    };
    auto invoke = [&](DISPID id, std::vector<VARIANT> args, VARIANT* result) {
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        HRESULT hr = email->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                                   nullptr, nullptr);
        for (VARIANT& arg : args) ::VariantClear(&arg);
        return hr;
    };
    auto init = [&](const std::string& subject) {
        VARIANT port;
        V_VT(&port) = VT_UI4;
        V_UI4(&port) = static_cast<ULONG>(port_);
        // Arguments go in reverse order: Init(server, to, subject, port).
        return invoke(1, {port, text(subject), text(kRecipient), text("127.0.0.1")}, nullptr);
    };

    ASSERT_EQ(S_OK, init("late-bound alert"));
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, invoke(3, {text("Trojan found: C:\\evil.exe\r\n")}, &result));
    ::VariantClear(&result);
    ASSERT_EQ(S_OK, init("late-bound test message")) << "a second Init replaces the settings";
    EXPECT_EQ(S_OK, invoke(2, {}, nullptr));

    EXPECT_EQ(ExpectedBody("Trojan found: C:\\evil.exe\r\n"), Received("late-bound alert").body);
    EXPECT_EQ(ExpectedBody(test::kTestMessageText), Received("late-bound test message").body);
}

TEST_F(EmailObject, SeveralObjectsSendAtOnceFromSeveralThreads) {
    constexpr int kSenders = 8;
    std::vector<std::future<HRESULT>> results;
    for (int i = 0; i < kSenders; ++i) {
        DWORD apartment = i % 2 ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
        results.push_back(OnThread(apartment, [this, i](HRESULT joined) {
            if (FAILED(joined)) return joined;
            ComPtr<IEmail> email;
            HRESULT hr = CreateEmail(&email);
            if (SUCCEEDED(hr)) hr = InitEmail(email.Get(), "parallel object " + std::to_string(i), port_);
            if (SUCCEEDED(hr)) hr = SendMailText(email.Get(), "alert number " + std::to_string(i) + "\r\n");
            return hr;
        }));
    }
    for (int i = 0; i < kSenders; ++i) EXPECT_EQ(S_OK, results[i].get()) << "sender " << i;
    for (int i = 0; i < kSenders; ++i)
        EXPECT_EQ(ExpectedBody("alert number " + std::to_string(i) + "\r\n"),
                  Received("parallel object " + std::to_string(i)).body);
}

// ---- time-outs, on the object itself ---------------------------------------------

// The COM methods wait a minute for a silent server; the object's own sends take a
// shorter limit, and the module is the one whose string table holds the test message.
class EmailWithShortTimeout : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = test::ModuleDirectory() + "\\kwreng32.dll";
        module_.reset(::LoadLibraryA(path.c_str()));
        ASSERT_TRUE(module_) << path << " GetLastError " << ::GetLastError();
        SetModuleInstance(module_.get());
        ASSERT_EQ(S_OK, Email::Create(IID_PPV_ARGS(&object_)));
        email_ = static_cast<Email*>(object_.Get());
    }
    void TearDown() override { SetModuleInstance(nullptr); }

    unique_hmodule module_;
    ComPtr<IEmail> object_;
    Email* email_ = nullptr;
};

TEST_F(EmailWithShortTimeout, SilentServerFailsTheTestMessage) {
    for (std::string PeerReplies::*silent : {&PeerReplies::greeting, &PeerReplies::data}) {
        PeerReplies replies;
        replies.*silent = test::kNeverAnswer;
        ScriptedSmtpPeer peer(replies);
        ASSERT_EQ(S_OK, InitEmail(object_.Get(), "silent", peer.port()));
        EXPECT_EQ(E_FAIL, email_->SendTestMessageWithin(kShortTimeoutMs));
    }
    PeerReplies replies;
    replies.helo = test::kNeverAnswer;
    ScriptedSmtpPeer peer(replies);
    ASSERT_EQ(S_OK, InitEmail(object_.Get(), "silent", peer.port()));
    EXPECT_EQ(WSAETIMEDOUT, email_->SendMailWithin("alert", kShortTimeoutMs))
        << "SendMail itself still tells the Winsock code";
}

TEST_F(EmailWithShortTimeout, TestMessageCarriesTheModuleString) {
    ScriptedSmtpPeer peer;
    ASSERT_EQ(S_OK, InitEmail(object_.Get(), "direct", peer.port()));
    ASSERT_EQ(S_OK, email_->SendTestMessageWithin(kSmtpTimeoutMs));
    const std::string& data = peer.Data();
    EXPECT_EQ(ExpectedBody(test::kTestMessageText) + ".\r\n", data.substr(data.find("\r\n\r\n") + 4));
}

}  // namespace
}  // namespace tolvane

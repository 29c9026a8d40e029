// The Privacy Control page as a user meets it: the main window shown over the hidden
// frame on the test thread, its privacy page driven from a second thread, with the real
// privacy engine of hyseng32.dll, a psigs.kws written for the test, a running specimen
// and a registry key standing in for a monitoring tool.
#include "app_test_support.h"
#include "engine/specimen_fixture.h"
#include "main_frame.h"
#include "plugin_module.h"
#include "privacy/privacy_test_support.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "ui/message_box.h"

#include <commctrl.h>

#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const char kToolName[] = "WinWhatWhere Investigator";
const std::string kToolKey = "Software\\Ostrimark\\Tolvane Privacy Page Test";

class PrivacyPageTest : public SpecimenEngineTest {
protected:
    void SetUp() override {
        SpecimenEngineTest::SetUp();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        DeleteTree(HKEY_CURRENT_USER, kToolKey);
        Settings() = DefaultAppSettings();
        Settings().LoggingEnabled = 0;
        Settings().AutoScan = 0;  // the page is driven by hand; no scan at frame creation
    }
    void TearDown() override {
        frame_.reset();
        scanModule_.Call("DllUnregisterServer");
        privacyModule_.Call("DllUnregisterServer");
        DeleteTree(HKEY_CURRENT_USER, kToolKey);
        SpecimenEngineTest::TearDown();
    }
    // The privacy engine takes psigs.kws from the folder current when it is made.
    void PutPrivacySignatures(const std::vector<SignatureEntry>& entries,
                              const std::vector<RegistrySignature>& records) {
        ASSERT_TRUE(WriteBytes(folder_ + "\\work\\psigs.kws", PrivacyFileBytes(entries, records)));
    }
    void CreateFrame(bool withPrivacyEngine) {
        if (withPrivacyEngine) {
            ASSERT_EQ(S_OK, privacyModule_.Call("DllRegisterServer"));
        }
        frame_ = std::make_unique<CMainFrame>();
        ASSERT_TRUE(frame_->Create());
        ASSERT_EQ(withPrivacyEngine, frame_->PrivacyEngine() != nullptr);
    }

    // Shows `sheet` on this thread while `script` drives it from another, then hides it.
    void WithSheet(CMyPropertySheet& sheet, const std::function<void()>& script) {
        DWORD uiThread = ::GetCurrentThreadId();
        std::thread driver([&] {
            if (!sheet_) sheet_ = WaitForThreadWindow(uiThread, "Tolvane v3.5", 10000);
            if (!sheet_) return ADD_FAILURE() << "the main window did not open";
            script();
            ::PostMessageA(sheet_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(sheet_, IDCANCEL)));
        });
        sheet.DoModal(nullptr);
        driver.join();
    }
    std::vector<std::string> TabTitles() {
        HWND tabs = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETTABCONTROL, 0, 0));
        std::vector<std::string> titles;
        int count = static_cast<int>(::SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[64] = {};
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            ::SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
            titles.emplace_back(text);
        }
        return titles;
    }
    void OpenPrivacyPage() {
        ::SendMessageA(sheet_, PSM_SETCURSEL, 1, 0);
        page_ = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
        char title[64] = {};
        ::GetWindowTextA(page_, title, sizeof title);
        ASSERT_STREQ("Privacy Control", title);
    }
    void RunCheck() { ClickButton(page_, IDC_RUN_PRIVACY_CHECK); }
    std::string Shown(int id) {
        char text[2048];
        int length = ::GetDlgItemTextA(page_, id, text, sizeof text);
        return std::string(text, length > 0 ? length : 0);
    }

    PluginModule scanModule_{"kwreng32.dll"};
    PluginModule privacyModule_{"hyseng32.dll"};
    std::unique_ptr<CMainFrame> frame_;
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
};

// Fails every Scan with a message number, as an engine whose process listing broke does.
class FailingPrivacyEngine : public IPrivacyEngine {
public:
    int scans = 0, closes = 0;
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IPrivacyEngine ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Init() override { return S_OK; }
    STDMETHODIMP Close() override { return ++closes, S_OK; }
    STDMETHODIMP Scan(long*) override { return ++scans, E_FAIL; }
    STDMETHODIMP LoadNewDefs() override { return S_OK; }
    STDMETHODIMP get_LastError(unsigned long* code) override { return *code = IDS_FIND_PROC_FAILED, S_OK; }
    STDMETHODIMP get_ProcessList(VARIANT*) override { return E_FAIL; }
};

}  // namespace

TEST_F(PrivacyPageTest, RunningToolAndExistingKeyAreListedUnderTheNoticeTheSameOnEveryRun) {
    std::string specimen = Place("netbus_350000.exe");
    std::uint32_t fingerprint = FileFingerprint(specimen);
    ASSERT_NE(0u, fingerprint);
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kToolKey + "\\Tool", "x", "1"));
    PutPrivacySignatures({{0, fingerprint}},
                         {RegistryRecord("Keyed Monitor", kCurrentUser, kToolKey + "\\Tool"),
                          RegistryRecord("Absent Monitor", kCurrentUser, kToolKey + "\\Absent")});
    Start(specimen);
    CaughtMessages caught;
    CreateFrame(true);
    std::string expected = LoadMessage(IDS_PRIVACY_FOUND) + "\tKeyed Monitor\n\t" + kToolName + "\n";
    WithSheet(*frame_->Sheet(), [&] {
        EXPECT_EQ((std::vector<std::string>{"Detect/Remove", "Privacy Control", "Options", "Program Status and Updates"}), TabTitles());
        OpenPrivacyPage();
        EXPECT_EQ("", Shown(IDC_PRIVACY_RESULTS));
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE(run);
            RunCheck();
            EXPECT_EQ(expected, Shown(IDC_PRIVACY_RESULTS));
            EXPECT_EQ(LoadMessage(IDS_PRIVACY_NOTICE), Shown(IDC_PRIVACY_NOTICE));
        }
    });
    EXPECT_TRUE(caught.shown().empty()) << caught.shown()[0].text;
    EXPECT_FALSE(Ended(0)) << "the privacy check stops nothing";
    VARIANT list;
    ::VariantInit(&list);
    ASSERT_EQ(S_OK, frame_->PrivacyEngine()->get_ProcessList(&list));
    LONG upper = -2;
    ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
    EXPECT_EQ(0, upper) << "Close dropped the key's name; the held finding stays";
    ::VariantClear(&list);
}

TEST_F(PrivacyPageTest, NothingFoundShowsTheCleanReportAndNoNotice) {
    PutPrivacySignatures({{0, 0x12345678}}, {RegistryRecord("Absent Monitor", kCurrentUser, kToolKey + "\\Absent")});
    CaughtMessages caught;
    CreateFrame(true);
    WithSheet(*frame_->Sheet(), [&] {
        OpenPrivacyPage();
        RunCheck();
        EXPECT_EQ("No potential privacy violations were detected on your system.", Shown(IDC_PRIVACY_RESULTS));
        EXPECT_EQ("", Shown(IDC_PRIVACY_NOTICE));
    });
    EXPECT_TRUE(caught.shown().empty()) << caught.shown()[0].text;
}

TEST_F(PrivacyPageTest, WithoutAPrivacyEngineTheSheetHasNoPrivacyPage) {
    PutPrivacySignatures({}, {});
    CaughtMessages caught;
    CreateFrame(false);
    EXPECT_EQ(3u, frame_->Sheet()->PageCount());
    WithSheet(*frame_->Sheet(), [&] {
        EXPECT_EQ((std::vector<std::string>{"Detect/Remove", "Options", "Program Status and Updates"}), TabTitles());
    });
    EXPECT_TRUE(caught.shown().empty()) << caught.shown()[0].text;
}

TEST_F(PrivacyPageTest, FailedScanShowsTheEngineMessageClosesTheRunAndClaimsNothing) {
    CaughtMessages caught;
    CreateFrame(false);
    FailingPrivacyEngine engine;
    CMyPropertySheet sheet(frame_->ScanEngine(), &engine, IDS_CAPTION);
    WithSheet(sheet, [&] {
        OpenPrivacyPage();
        RunCheck();
        EXPECT_EQ(std::vector<std::string>{"Tolvane encountered an internal error: (FindProc 57358)"},
                  ShownTexts(caught));
        EXPECT_EQ("", Shown(IDC_PRIVACY_RESULTS)) << "a failed scan has not shown the machine clean";
        EXPECT_EQ("", Shown(IDC_PRIVACY_NOTICE));
    });
    EXPECT_EQ(1, engine.scans);
    EXPECT_EQ(1, engine.closes);
}

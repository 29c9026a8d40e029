// The program's paths that only trouble reaches: a product key that cannot be created, a
// diagnostic file that cannot be written, timers the system refuses or has lost, a
// detection that fails during a timed scan, a removal that fails, no privacy engine, and
// an engine that finds something yet lists no row.
#include "app_test_support.h"
#include "engine/specimen_fixture.h"
#include "main_frame.h"
#include "maintenance/diagnostic_dump.h"
#include "pages/my_property_sheet.h"
#include "plugin_module.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "tolvane_app.h"
#include "ui/message_box.h"

#include <commctrl.h>

#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr UINT kTimerMessageType = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

// A scan engine that answers as the test says, registered in this process in place of
// kwreng32's class, so the frame and the page create it as they create the real one.
class FakeScanEngine : public IScanEngine {
public:
    HRESULT detectResult = S_OK;
    long found = 0;
    unsigned long lastError = 1;
    int inits = 0;
    int detects = 0;
    int closes = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IScanEngine) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IScanEngine*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack; the count only shows that nothing is left held.
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP DetectOrx(long* value) override {
        ++detects;
        if (FAILED(detectResult)) return detectResult;
        *value = found;
        return S_OK;
    }
    STDMETHODIMP RemoveOrx(long* value) override {
        *value = 0;
        return S_FALSE;
    }
    STDMETHODIMP Init(long, long) override {
        ++inits;
        return S_OK;
    }
    STDMETHODIMP Close() override {
        ++closes;
        return S_OK;
    }
    STDMETHODIMP ScanFile(BSTR, unsigned long*) override { return E_NOTIMPL; }
    STDMETHODIMP LoadNewDefs() override { return E_NOTIMPL; }
    // Whatever was found, no row.
    STDMETHODIMP get_ProcessList(VARIANT* value) override {
        V_VT(value) = VT_ARRAY | VT_BSTR;
        V_ARRAY(value) = ::SafeArrayCreateVector(VT_BSTR, 0, 0);
        return V_ARRAY(value) ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP put_Logging(long) override { return S_OK; }
    STDMETHODIMP put_Silent(long) override { return S_OK; }
    STDMETHODIMP get_LastError(unsigned long* code) override {
        *code = lastError;
        return S_OK;
    }
    ULONG References() const { return references_; }

private:
    ULONG references_ = 0;
};

// Hands out the fake for CLSID_ScanEngine while it is in scope.
class RegisteredFake : public IClassFactory {
public:
    explicit RegisteredFake(FakeScanEngine& engine) : engine_(engine) {
        registered_ = SUCCEEDED(::CoRegisterClassObject(CLSID_ScanEngine, this, CLSCTX_INPROC_SERVER,
                                                        REGCLS_MULTIPLEUSE, &cookie_));
    }
    ~RegisteredFake() {
        if (registered_) ::CoRevokeClassObject(cookie_);
    }
    bool Registered() const { return registered_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        return engine_.QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    FakeScanEngine& engine_;
    DWORD cookie_ = 0;
    bool registered_ = false;
};

// Refuses the timer event of this number, lets every other through.
UINT_PTR g_refusedEvent = 0;
UINT_PTR WINAPI RefuseOneTimer(HWND window, UINT_PTR event, UINT milliseconds, TIMERPROC procedure) {
    return event == g_refusedEvent ? 0 : ::SetTimer(window, event, milliseconds, procedure);
}

// Runs this thread's messages for the time given, or until `done` holds.
bool RunMessages(DWORD milliseconds, const std::function<bool()>& done = [] { return false; }) {
    for (DWORD start = ::GetTickCount(); !done();) {
        if (::GetTickCount() - start > milliseconds) return false;
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

class ProgramPaths : public SpecimenEngineTest {
protected:
    void SetUp() override {
        SpecimenEngineTest::SetUp();
        // The page tests open their own engine runs.
        engine_->Close();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        ASSERT_EQ(S_OK, privacyModule_.Call("DllRegisterServer"));
        Settings() = DefaultAppSettings();
        Settings().LoggingEnabled = 0;
        Settings().AutoScan = 0;
        Settings().SilentMode = 1;
        detectionPending = -1;
    }
    void TearDown() override {
        frame_.reset();
        SetTimerStarter(nullptr);
        scanModule_.Call("DllUnregisterServer");
        privacyModule_.Call("DllUnregisterServer");
        Settings() = DefaultAppSettings();
        SpecimenEngineTest::TearDown();
    }
    void CreateFrame() {
        frame_ = std::make_unique<CMainFrame>();
        ASSERT_TRUE(frame_->Create());
    }
    // The main window over `engine` on this thread, its Detect/Remove page driven by
    // `script` from another; "Hide Window" closes it.
    void WithDetectPage(IScanEngine* engine, const std::function<void(HWND page)>& script) {
        CMyPropertySheet sheet(engine, nullptr, IDS_CAPTION);
        DWORD uiThread = ::GetCurrentThreadId();
        std::thread driver([&] {
            HWND window = WaitForThreadWindow(uiThread, "Tolvane v3.5", 10000);
            if (!window) return ADD_FAILURE() << "the main window did not open";
            script(reinterpret_cast<HWND>(::SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0)));
            ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(window, IDCANCEL)));
        });
        sheet.DoModal(nullptr);
        driver.join();
    }
    static void Click(HWND page, int id) {
        ::SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(page, id)));
    }
    static bool Enabled(HWND page, int id) { return ::IsWindowEnabled(::GetDlgItem(page, id)) != FALSE; }
    static int Rows(HWND page) {
        return static_cast<int>(::SendDlgItemMessageA(page, IDC_RESULT_LIST, LVM_GETITEMCOUNT, 0, 0));
    }

    PluginModule scanModule_{"kwreng32.dll"};
    PluginModule privacyModule_{"hyseng32.dll"};
    std::unique_ptr<CMainFrame> frame_;
};

// The application object's frame posts the end of the message loop when it goes; that
// message must not end the next test's modal window.
void DropQuitMessage() {
    MSG message;
    while (::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

}  // namespace

TEST(ProgramStartPaths, ProductKeyThatCannotBeCreatedIsReportedAndEndsTheProgram) {
    ScopedProductKey productKey;
    const std::string parent = "SOFTWARE\\Ostrimark";
    DeleteTree(HKEY_LOCAL_MACHINE, parent);
    auto removeParent = scope_exit([&] { DeleteTree(HKEY_LOCAL_MACHINE, parent); });
    // A volatile key holds no lasting subkey, so the program's key cannot be made under it.
    unique_hkey volatileParent;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, volatileParent.put(), nullptr));
    CaughtMessages caught;
    {
        CTolvaneApp app;
        EXPECT_FALSE(app.InitInstance({})) << "the program goes on without its key";
        EXPECT_EQ(nullptr, app.MainFrame());
    }
    DropQuitMessage();
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(LoadMessage(IDS_REGISTRY_KEY_FAILED), caught.shown()[0].text);
    EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[0].type);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProductKey));
}

TEST_F(ProgramPaths, DiagnosticFileThatCannotBeWrittenIsReportedAndStartUpGoesOn) {
    ASSERT_TRUE(SetDword(kProductKey, "Installed", 1));
    ASSERT_TRUE(SaveSettings(Settings()));
    // A folder in the file's place: no file can be written there.
    ::DeleteFileA(kDiagnosticFile);
    ASSERT_TRUE(::CreateDirectoryA(kDiagnosticFile, nullptr));
    auto removeFolder = scope_exit([] { ::RemoveDirectoryA(kDiagnosticFile); });
    CaughtMessages caught;
    {
        CTolvaneApp app;
        EXPECT_TRUE(app.InitInstance({"/D"}));
        EXPECT_NE(nullptr, app.MainFrame());
    }
    DropQuitMessage();
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(LoadMessage(IDS_DIAGNOSTIC_FILE_FAILED), caught.shown()[0].text);
    EXPECT_EQ(UINT{MB_OK}, caught.shown()[0].type);

    // With the folder gone the same dump succeeds.
    ASSERT_TRUE(::RemoveDirectoryA(kDiagnosticFile));
    EXPECT_TRUE(DiagnosticDump());
    EXPECT_EQ(2776u, ReadBytes(kDiagnosticFile).size());
    ::DeleteFileA(kDiagnosticFile);
}

TEST_F(ProgramPaths, TimersTheSystemRefusesAreReportedAndARefusedScanTimerTurnsTimedScanningOff) {
    SetTimerStarter(RefuseOneTimer);
    g_refusedEvent = 1224;
    Settings().TimedScanning = 1;
    Settings().ScanInterval = 60000;
    {
        CaughtMessages caught;
        CreateFrame();
        ASSERT_EQ(1u, caught.shown().size());
        EXPECT_EQ("Unable to obtain timer. Timed scanning has been turned off.", caught.shown()[0].text);
        EXPECT_EQ(kTimerMessageType, caught.shown()[0].type);
        EXPECT_EQ(0, Settings().TimedScanning);
        EXPECT_EQ(0u, frame_->ScanTimer());
    }

    // A refused flash timer leaves timed scanning alone.
    Settings().TimedScanning = 1;
    g_refusedEvent = 1225;
    CaughtMessages caught;
    frame_->StartFlashing();
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ("Unable to obtain timer. Timed scanning has been turned off.", caught.shown()[0].text);
    EXPECT_EQ(kTimerMessageType, caught.shown()[0].type);
    EXPECT_EQ(0u, frame_->FlashTimer());
    EXPECT_EQ(1, Settings().TimedScanning);
}

TEST_F(ProgramPaths, TimersThatCannotBeStoppedAreNamedByTheirIdentifier) {
    Settings().TimedScanning = 1;
    Settings().ScanInterval = 60000;
    CreateFrame();
    ASSERT_EQ(1224u, frame_->ScanTimer());
    frame_->StartFlashing();
    ASSERT_EQ(1225u, frame_->FlashTimer());
    // Gone behind the frame's back, so the frame's own stop fails.
    ASSERT_TRUE(::KillTimer(frame_->Handle(), 1224));
    ASSERT_TRUE(::KillTimer(frame_->Handle(), 1225));
    CaughtMessages caught;
    frame_->RunScan();
    EXPECT_FALSE(frame_->StopFlashing());
    EXPECT_EQ((std::vector<std::string>{"Unable to kill timer: 1224", "Unable to kill timer: 1225"}),
              ShownTexts(caught));
    for (const auto& shown : caught.shown()) EXPECT_EQ(kTimerMessageType, shown.type);
    EXPECT_EQ(1224u, frame_->ScanTimer()) << "the scan ran and its timer was started again";
}

TEST_F(ProgramPaths, DetectionFailingInATimedScanIsShownClosesTheRunAndLeavesTheTimerStopped) {
    FakeScanEngine engine;
    engine.detectResult = E_FAIL;
    engine.lastError = IDS_FIND_PROC_FAILED;
    RegisteredFake registered(engine);
    ASSERT_TRUE(registered.Registered());
    Settings().TimedScanning = 1;
    Settings().ScanInterval = 100;
    CaughtMessages caught;
    CreateFrame();
    ASSERT_EQ(static_cast<IScanEngine*>(&engine), frame_->ScanEngine());
    EXPECT_TRUE(RunMessages(5000, [&] { return !caught.shown().empty(); })) << "no timed scan ran";
    RunMessages(600);
    EXPECT_EQ(std::vector<std::string>{"Tolvane encountered an internal error: (FindProc 57358)"}, ShownTexts(caught));
    EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[0].type);
    EXPECT_EQ(1, engine.detects) << "no second timed scan";
    EXPECT_EQ(engine.inits, engine.closes) << "the run was closed";
    EXPECT_EQ(0u, frame_->ScanTimer());
    frame_.reset();
    EXPECT_EQ(0u, engine.References());
}

TEST_F(ProgramPaths, RemovalThatFailsIsReportedAndThePageReturnsToIdle) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    // A file where the quarantine folder belongs: the trojan cannot be moved there.
    ASSERT_TRUE(WriteText(folder_ + "\\work\\Infected Files", "in the way"));
    CaughtMessages caught;
    WithDetectPage(engine_.Get(), [&](HWND page) {
        Click(page, IDC_DETECT);
        ASSERT_EQ(1, Rows(page)) << (caught.shown().empty() ? "" : caught.shown()[0].text);
        Click(page, IDC_REMOVE);
        EXPECT_EQ(std::vector<std::string>{"There were errors during removal. See the log for details."},
                  ShownTexts(caught));
        EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[0].type);
        EXPECT_EQ(0, Rows(page));
        EXPECT_TRUE(Enabled(page, IDC_DETECT));
        EXPECT_FALSE(Enabled(page, IDC_REMOVE));
        EXPECT_FALSE(Enabled(page, IDC_RESULT_LIST));
    });
    EXPECT_TRUE(FileExists(path)) << "nothing was quarantined";
    EXPECT_EQ(-1, detectionPending);
}

TEST_F(ProgramPaths, FindingWithNoRowsLeavesTheListEmptyButEnabled) {
    FakeScanEngine engine;
    engine.found = 1;
    CaughtMessages caught;
    WithDetectPage(&engine, [&](HWND page) {
        Click(page, IDC_DETECT);
        EXPECT_EQ(0, Rows(page));
        EXPECT_TRUE(Enabled(page, IDC_RESULT_LIST));
        EXPECT_TRUE(Enabled(page, IDC_FOUND_LABEL));
        EXPECT_TRUE(Enabled(page, IDC_REMOVE));
        EXPECT_FALSE(Enabled(page, IDC_DETECT));
    });
    EXPECT_EQ(1, engine.detects);
    EXPECT_EQ(1, engine.closes) << "the open run was closed with the window";
    EXPECT_TRUE(caught.shown().empty());
}

TEST_F(ProgramPaths, PrivacyEngineThatIsNotRegisteredLeavesItsPageOutSilently) {
    ASSERT_TRUE(::CopyFileA((ModuleDirectory() + "\\signatures\\psigs.kws").c_str(),
                            (folder_ + "\\work\\psigs.kws").c_str(), FALSE));
    CaughtMessages caught;
    CreateFrame();
    EXPECT_NE(nullptr, frame_->PrivacyEngine());
    EXPECT_EQ(4u, frame_->Sheet()->PageCount()) << "with the engine: its page too";
    frame_.reset();

    ASSERT_EQ(S_OK, privacyModule_.Call("DllUnregisterServer"));
    CreateFrame();
    EXPECT_EQ(nullptr, frame_->PrivacyEngine());
    EXPECT_EQ(3u, frame_->Sheet()->PageCount()) << "Detect/Remove, Options and Program Status";
    EXPECT_TRUE(caught.shown().empty());
}

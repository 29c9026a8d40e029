#include "main_frame.h"

#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "shell_hooks.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <string>

namespace tolvane {

const char kMainFrameClass[] = "TolvaneMainFrame";

namespace {

constexpr UINT kTrayCallbackMessage = WM_USER + 10;
constexpr UINT_PTR kScanTimerEvent = 1224;
constexpr UINT_PTR kFlashTimerEvent = 1225;
constexpr UINT kFlashMilliseconds = 400;
// Timer trouble is shown system-modal: it may come while no window of ours is open.
constexpr UINT kTimerMessageType = MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL;

TimerStarter g_timerStarter = ::SetTimer;

bool IsSignatureError(unsigned long code) {
    return code == IDS_SIGNATURE_READ || code == IDS_SIGNATURE_MAGIC || code == IDS_SIGNATURE_MISSING;
}

bool KillTimerOrSay(HWND window, UINT_PTR timer) {
    if (::KillTimer(window, timer)) return true;
    std::string text = LoadMessage(IDS_TIMER_KILL_FAILED);
    std::size_t place = text.find("%u");
    if (place != std::string::npos) text.replace(place, 2, std::to_string(static_cast<unsigned long>(timer)));
    ShowText(text, kTimerMessageType);
    return false;
}

bool RegisterFrameClass(WNDPROC procedure) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA existing;
    if (::GetClassInfoA(instance, kMainFrameClass, &existing)) return true;
    WNDCLASSA frameClass{};
    frameClass.lpfnWndProc = procedure;
    frameClass.hInstance = instance;
    frameClass.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    frameClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    frameClass.lpszClassName = kMainFrameClass;
    return ::RegisterClassA(&frameClass) != 0;
}

}  // namespace

TimerStarter SetTimerStarter(TimerStarter starter) {
    TimerStarter previous = g_timerStarter;
    g_timerStarter = starter ? starter : ::SetTimer;
    return previous;
}

CMainFrame::~CMainFrame() {
    if (hwnd_) ::DestroyWindow(hwnd_);
}

bool CMainFrame::Create() {
    if (!RegisterFrameClass(WindowProc)) return false;
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    std::string title = LoadMessage(IDR_MAINFRAME);
    HWND window = ::CreateWindowExA(0, kMainFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                    ::LoadMenuA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME)), instance, this);
    return window != nullptr;
}

LRESULT CALLBACK CMainFrame::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<CMainFrame*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = window;
    }
    auto* self = reinterpret_cast<CMainFrame*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    // No exception may unwind into the system's window code.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ShowMessage(IDS_UNSPECIFIED_ERROR);
        return message == WM_CREATE ? -1 : 0;
    }
}

LRESULT CMainFrame::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate() ? 0 : -1;
    case WM_COMMAND:
        if (LOWORD(wParam) == ID_OPEN) {
            ShowMainWindow();
            return 0;
        }
        if (LOWORD(wParam) == ID_APP_EXIT) {
            Post(WM_CLOSE);
            return 0;
        }
        break;
    case WM_TIMER:
        OnTimer(wParam);
        break;
    case WM_CLOSE:
        // The creation's signature download, a scan's message box and the main window each
        // run a message loop with this frame's engines and sheet in use below it; the
        // frame closes once they have returned.
        if (creating_ || scanInProgress_ || mainWindowOpen_) {
            closeRequested_ = true;
            return 0;
        }
        break;
    case WM_QUERYENDSESSION:
        if (endSession_) endSession_();
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY: {
        LRESULT result = ::DefWindowProcA(hwnd_, message, wParam, lParam);
        ::SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
        hwnd_ = nullptr;
        return result;
    }
    }
    return ::DefWindowProcA(hwnd_, message, wParam, lParam);
}

bool CMainFrame::OnCreate() {
    creating_ = true;
    bool created = CreateParts();
    creating_ = false;
    if (closeRequested_) Post(WM_CLOSE);
    return created;
}

bool CMainFrame::CreateParts() {
    if (!scanEngine_) {
        HRESULT result = ::CoCreateInstance(CLSID_ScanEngine, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&scanEngine_));
        if (FAILED(result)) {
            ShowMessage(IDS_SCAN_ENGINE_LOAD_FAILED, static_cast<unsigned long>(result));
            ::CoUninitialize();
            ::ExitProcess(static_cast<UINT>(-1));
        }
    }
    if (!privacyEngine_) CreatePrivacyEngine();
    sheet_ = std::make_unique<CMyPropertySheet>(scanEngine_.Get(), privacyEngine_.Get(), IDS_CAPTION);
    std::string tip = LoadMessage(IDS_CAPTION);
    trayIcon_.SetNotificationWnd(hwnd_, kTrayCallbackMessage);
    trayIcon_.SetIcon(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_TRAY)), tip.c_str());
    if (Settings().AutoScan) RunScan();
    // Findings of the automatic scan wait in its open engine run for the user; the timer
    // starts when the main window has been open, as after a timed scan's findings.
    if (Settings().TimedScanning && detectionPending != 1) RestartScanTimer();
    return true;
}

void CMainFrame::CreatePrivacyEngine() {
    if (FAILED(::CoCreateInstance(CLSID_PrivacyEngine, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&privacyEngine_)))) {
        privacyEngine_.Reset();
        return;
    }
    auto init = [this] { return privacyEngine_->Init(); };
    if (SUCCEEDED(init()) || RecoverSignatures(privacyEngine_.Get(), init)) return;
    privacyEngine_->Close();
    privacyEngine_.Reset();
}

template <class Engine, class InitCall>
bool CMainFrame::RecoverSignatures(Engine* engine, InitCall init) {
    for (;;) {
        unsigned long code = 0;
        if (FAILED(engine->get_LastError(&code)) || !IsSignatureError(code)) return false;
        if (!AskDownloadSignatures(code)) return false;
        if (SUCCEEDED(init())) break;
    }
    return SUCCEEDED(init());
}

bool CMainFrame::AskDownloadSignatures(unsigned long id) {
    // Offering a download that cannot happen would only bring the question back.
    if (!UpdateAvailable()) return false;
    if (ShowMessage(id, UINT{MB_YESNO | MB_ICONEXCLAMATION}) != IDYES) return false;
    unique_hkey key;
    std::string engineKey = std::string(kProductKeyPath) + "\\Engine";
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, engineKey.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return false;
    char date[13] = {};
    DWORD size = 12;
    // Signature files that were never loaded left no date; the download must still run,
    // or the user would be asked again with nothing fetched.
    if (::RegQueryValueExA(key.get(), "VirusDefsDate", nullptr, nullptr, reinterpret_cast<BYTE*>(date), &size) !=
        ERROR_SUCCESS)
        date[0] = '\0';
    RunUpdate(date);
    return true;
}

void CMainFrame::ShowMainWindow() {
    // Open again while the window is open (the menu's command can still come) would run
    // the sheet inside its own modal loop, and a close in there would destroy the sheet
    // under the outer one.
    if (mainWindowOpen_) {
        if (sheet_->Handle()) ::SetForegroundWindow(sheet_->Handle());
        return;
    }
    if (!sheet_) return;
    quitRequested_ = false;
    // "Open" while a scan that has found nothing yet runs would show an empty page.
    if (scanInProgress_ && detectionPending == -1) return;
    if (flashTimer_) StopFlashing();
    if (scanTimer_) {
        StopTimer(scanTimer_);
        scanTimer_ = 0;
    }
    trayIcon_.HideIcon();
    Show(SW_SHOWMINNOACTIVE);
    mainWindowOpen_ = true;
    if (sheet_->DoModal(hwnd_) == IDOK) quitRequested_ = true;
    mainWindowOpen_ = false;
    Show(SW_HIDE);
    trayIcon_.ShowIcon();
    if (Settings().TimedScanning) RestartScanTimer();
    if ((quitRequested_ || closeRequested_) && !scanInProgress_) Post(WM_CLOSE);
    detectionPending = -1;
}

void CMainFrame::RunScan() {
    if (scanInProgress_) return;
    if (scanTimer_) {
        StopTimer(scanTimer_);
        scanTimer_ = 0;
    }
    scanInProgress_ = true;
    if (!InitScanEngine()) {
        scanEngine_->Close();
        Post(WM_CLOSE);
    } else if (DetectTrojans()) {
        // While the icon flashes the findings wait for the user in the open engine
        // run; a timed scan meanwhile would start a new run over them. The timer
        // starts again when the main window has been open.
        if (!quitRequested_ && !closeRequested_ && Settings().TimedScanning && detectionPending != 1)
            RestartScanTimer();
    }
    scanInProgress_ = false;
    if (quitRequested_ || closeRequested_) Post(WM_CLOSE);
}

bool CMainFrame::DetectTrojans() {
    long found = 0;
    if (FAILED(scanEngine_->DetectOrx(&found))) {
        unsigned long code = 0;
        std::string text;
        if (SUCCEEDED(scanEngine_->get_LastError(&code))) text = LoadMessage(static_cast<UINT>(code));
        // As on the Detect/Remove page: never an empty box for a code without a text.
        if (text.empty()) text = LoadMessage(IDS_UNSPECIFIED_ERROR);
        ShowText(text, MB_OK | MB_ICONEXCLAMATION);
        scanEngine_->Close();
        return false;
    }
    if (!found) {
        if (!Settings().SilentMode) ShowMessage(IDS_NO_TROJANS, UINT{MB_OK | MB_ICONINFORMATION});
        scanEngine_->Close();
        return true;
    }
    if (Settings().AdminAlert) StartAdminAlert();
    detectionPending = 1;
    if (Settings().ShowUIOnTrojan) ShowMainWindow();
    else StartFlashing();
    return true;
}

bool CMainFrame::InitScanEngine() {
    const AppSettings& settings = Settings();
    auto init = [this, &settings] { return scanEngine_->Init(settings.LoggingEnabled, settings.SilentMode); };
    return SUCCEEDED(init()) || RecoverSignatures(scanEngine_.Get(), init);
}

void CMainFrame::RestartScanTimer() {
    if (scanTimer_) StopTimer(scanTimer_);
    scanTimer_ = 0;
    scanTimer_ = StartScanTimer(static_cast<UINT>(Settings().ScanInterval));
}

UINT_PTR CMainFrame::StartScanTimer(UINT milliseconds) {
    UINT_PTR timer = g_timerStarter(hwnd_, kScanTimerEvent, milliseconds, nullptr);
    if (!timer) {
        ShowMessage(IDS_TIMER_UNAVAILABLE, kTimerMessageType);
        Settings().TimedScanning = 0;
    }
    return timer;
}

void CMainFrame::StopTimer(UINT_PTR timer) { KillTimerOrSay(hwnd_, timer); }

void CMainFrame::StartFlashing() {
    flashTimer_ = g_timerStarter(hwnd_, kFlashTimerEvent, kFlashMilliseconds, nullptr);
    if (!flashTimer_) ShowMessage(IDS_TIMER_UNAVAILABLE, kTimerMessageType);
}

bool CMainFrame::StopFlashing() {
    if (flashTimer_ && !KillTimerOrSay(hwnd_, flashTimer_)) return false;
    flashTimer_ = 0;
    trayIcon_.SetIcon(IDI_TRAY, false);
    return true;
}

void CMainFrame::OnTimer(UINT_PTR event) {
    if (event == kScanTimerEvent) {
        RunScan();
    } else if (event == kFlashTimerEvent) {
        trayIcon_.SetIcon(flashPhase_ ? IDI_TRAY_ALERT : IDI_TRAY, false);
        flashPhase_ = !flashPhase_;
    }
}

void CMainFrame::OnDestroy() {
    trayIcon_.RemoveIcon();
    if (scanTimer_) ::KillTimer(hwnd_, scanTimer_);
    if (flashTimer_) ::KillTimer(hwnd_, flashTimer_);
    scanTimer_ = flashTimer_ = 0;
    sheet_.reset();
    privacyEngine_.Reset();
    scanEngine_.Reset();
    if (quitOnDestroy_) ::PostQuitMessage(0);
}

}  // namespace tolvane

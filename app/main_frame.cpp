#include "main_frame.h"

#include "message_box.h"
#include "resource.h"
#include "settings_store.h"
#include "shell_hooks.h"
#include "unique_handle.h"

#include <string>

namespace tolvane {

const char kMainFrameClass[] = "TolvaneMainFrame";

namespace {

bool IsSignatureError(unsigned long code) {
    return code == IDS_SIGNATURE_READ || code == IDS_SIGNATURE_MAGIC || code == IDS_SIGNATURE_MISSING;
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
    // The tray icon (icon IDI_TRAY, tip IDS_CAPTION), the automatic scan and the scan
    // timer start here once the tray is part of the program.
    return true;
}

void CMainFrame::CreatePrivacyEngine() {
    if (FAILED(::CoCreateInstance(CLSID_PrivacyEngine, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&privacyEngine_)))) {
        privacyEngine_.Reset();
        return;
    }
    if (SUCCEEDED(privacyEngine_->Init()) || RecoverSignatures(privacyEngine_.Get())) return;
    privacyEngine_->Close();
    privacyEngine_.Reset();
}

template <class Engine>
bool CMainFrame::RecoverSignatures(Engine* engine) {
    for (;;) {
        unsigned long code = 0;
        if (FAILED(engine->get_LastError(&code)) || !IsSignatureError(code)) return false;
        if (!AskDownloadSignatures(code)) return false;
        if (SUCCEEDED(engine->Init())) break;
    }
    return SUCCEEDED(engine->Init());
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
    quitRequested_ = false;
    // The tray hides its icon and stops flashing and the scan timer here.
    Show(SW_SHOWMINNOACTIVE);
    if (sheet_->DoModal(hwnd_) == IDOK) quitRequested_ = true;
    Show(SW_HIDE);
    detectionPending = -1;
    if (quitRequested_) Post(WM_CLOSE);
}

void CMainFrame::OnDestroy() {
    sheet_.reset();
    privacyEngine_.Reset();
    scanEngine_.Reset();
    if (quitOnDestroy_) ::PostQuitMessage(0);
}

}  // namespace tolvane

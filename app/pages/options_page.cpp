#include "options_page.h"

#include "bstr_text.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "tray/email_object.h"
#include "ui/message_box.h"

#include <shellapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

namespace tolvane {

namespace {

constexpr std::int32_t kMinute = 60000;
constexpr int kIntervalChoices = 10;
constexpr int kMailToLimit = 255;
constexpr int kAlertSubjectLimit = 1000;
constexpr int kMailServerLimit = 255;
constexpr int kLogSizeLimit = 20;
constexpr int kVersionTextLimit = 40;

const int kAdminAlertControls[] = {IDC_MAIL_TO_LABEL,     IDC_MAIL_TO,
                                   IDC_ALERT_SUBJECT_LABEL, IDC_ALERT_SUBJECT,
                                   IDC_MAIL_SERVER_LABEL, IDC_MAIL_SERVER,
                                   IDC_MAIL_SERVER_PORT_LABEL, IDC_MAIL_SERVER_PORT};

void ShellOpen(const std::string& file, const std::string& parameters) {
    ::ShellExecuteA(nullptr, "open", file.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

ShellOpener g_shellOpener = ShellOpen;

// What a running test message shares with the page. The page window can be closed, and
// opened again as a new window, while the mail is on its way; the worker reports to
// whichever window is current when it ends, or to none.
struct TestMessageState {
    std::atomic<HWND> page{nullptr};
    std::atomic<bool> running{false};
};

TestMessageState& TestState() {
    static TestMessageState state;
    return state;
}

// Sent by the worker when the test message has ended; wParam is non-zero when it failed.
UINT TestMessageDone() {
    static const UINT message = ::RegisterWindowMessageA("TolvaneTestMessageDone");
    return message;
}

// What the worker copies from the page at its start.
struct TestMessageJob {
    std::string mailServer;
    std::string mailTo;
    std::string alertSubject;
    unsigned long port;
};

struct TestOutcome {
    UINT messageId;  // IDS_TEST_MESSAGE_SENT when it was sent
    HRESULT code;
};

TestOutcome SendThroughEmailObject(const TestMessageJob& job) {
    // The step under way names a failure, whether it was returned or thrown.
    UINT step = IDS_MAIL_OLE_FAILED;
    try {
        HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        auto leave = scope_exit([joined] {
            if (SUCCEEDED(joined)) ::CoUninitialize();
        });
        unique_bstr server(ToBstr(job.mailServer)), to(ToBstr(job.mailTo)), subject(ToBstr(job.alertSubject));
        // Released before the apartment is left.
        Microsoft::WRL::ComPtr<IEmail> email;
        HRESULT result = CreateEmailObject(email);
        if (FAILED(result)) return {step, result};
        step = IDS_MAIL_INIT_FAILED;
        result = email->Init(server.get(), to.get(), subject.get(), job.port);
        if (FAILED(result)) return {step, result};
        step = IDS_MAIL_SEND_FAILED;
        result = email->SendTestMessage();
        if (FAILED(result)) return {step, result};
        return {IDS_TEST_MESSAGE_SENT, S_OK};
    } catch (const std::bad_alloc&) {
        return {step, E_OUTOFMEMORY};
    } catch (...) {
        return {step, E_UNEXPECTED};
    }
}

DWORD WINAPI TestMessageThread(void* argument) {
    std::unique_ptr<TestMessageJob> job(static_cast<TestMessageJob*>(argument));
    TestOutcome outcome = SendThroughEmailObject(*job);
    bool failed = outcome.messageId != IDS_TEST_MESSAGE_SENT;
    // Nothing thrown may end the program from here; the page still hears how it went.
    try {
        if (failed) ShowMessage(outcome.messageId, static_cast<unsigned long>(outcome.code));
        else ShowMessage(outcome.messageId, UINT{MB_OK});
    } catch (...) {
    }
    TestState().running = false;
    if (HWND page = TestState().page.load()) ::SendMessageA(page, TestMessageDone(), failed, 0);
    return failed ? 1 : 0;
}

std::string EditText(HWND dialog, int id, int limit) {
    std::vector<char> text(limit + 1);
    int length = ::GetDlgItemTextA(dialog, id, text.data(), limit + 1);
    return std::string(text.data(), length > 0 ? length : 0);
}

void SetCheck(HWND dialog, int id, bool checked) { ::CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED); }
bool Checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

}  // namespace

int IntervalIndexFor(std::int32_t scanInterval) {
    int index = scanInterval / kMinute - 1;
    return index >= 0 && index < kIntervalChoices ? index : -1;
}

std::int32_t ScanIntervalFor(int intervalIndex) {
    std::int32_t interval = (intervalIndex + 1) * kMinute;
    return interval == 0 ? kMinute : interval;
}

std::string LogSizeText(std::uint32_t size) {
    if (size > 1000) return std::to_string(size / 1000) + " Kbytes.";
    return std::to_string(size) + " bytes.";
}

PortEntry ParsePort(const std::string& text, int& port) {
    const char* start = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*start))) ++start;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(start, &end, 10);
    if (end == start || !std::isdigit(static_cast<unsigned char>(end[-1]))) return PortEntry::notInteger;
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end) return PortEntry::notInteger;
    if (errno == ERANGE || value < 0 || value > 65535) return PortEntry::outOfRange;
    port = static_cast<int>(value);
    return PortEntry::valid;
}

std::string LogFilePath() {
    char directory[MAX_PATH];
    DWORD length = ::GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory) length = 0;
    return std::string(directory, length) + "\\Tolvane.log";
}

ShellOpener SetShellOpener(ShellOpener opener) {
    ShellOpener previous = g_shellOpener;
    g_shellOpener = opener ? opener : ShellOpen;
    return previous;
}

COptions::COptions() : CPropertyPageBase(IDD_OPTIONS_PAGE) {}

COptions::~COptions() {
    // A mail still on its way reports to no page; it holds nothing of this one.
    TestState().page = nullptr;
}

INT_PTR COptions::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == TestMessageDone() && message != 0) {
        if (wParam) OnTestMessageFailed();
        else EnableAdminAlertControls(Checked(hwnd_, IDC_ADMIN_ALERT));
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        // The links' hooks have let go of their windows by now.
        supportLink_.reset();
        webLink_.reset();
        HWND closing = hwnd_;
        TestState().page.compare_exchange_strong(closing, nullptr);
    }
    return CPropertyPageBase::HandleMessage(message, wParam, lParam);
}

bool COptions::OnInit() {
    TestState().page = hwnd_;
    supportLink_ = std::make_unique<HyperLinkControl>();
    supportLink_->SetAddress(LoadMessage(IDS_SUPPORT_MAIL_LINK));
    supportLink_->Attach(Item(IDC_SUPPORT_MAIL_LINK).Handle());
    webLink_ = std::make_unique<HyperLinkControl>();
    webLink_->SetAddress(LoadMessage(IDS_WEB_LINK));
    webLink_->Attach(Item(IDC_WEB_LINK).Handle());
    clearLogButton_.Attach(Item(IDC_CLEAR_LOG).Handle(), IDI_CLEAR_LOG);
    viewLogButton_.Attach(Item(IDC_VIEW_LOG).Handle(), IDI_VIEW_LOG);
    sendTestButton_.Attach(Item(IDC_SEND_TEST_MESSAGE).Handle(), IDI_SEND_TEST_MESSAGE);
    members_.versionText = LoadMessage(IDS_CAPTION).substr(0, kVersionTextLimit);

    CWindow intervals = Item(IDC_SCAN_INTERVAL);
    for (int minutes = 1; minutes <= kIntervalChoices; ++minutes)
        intervals.Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(minutes).c_str()));
    Item(IDC_MAIL_TO).Send(EM_LIMITTEXT, kMailToLimit);
    Item(IDC_ALERT_SUBJECT).Send(EM_LIMITTEXT, kAlertSubjectLimit);
    Item(IDC_MAIL_SERVER).Send(EM_LIMITTEXT, kMailServerLimit);
    MoveToControls();
    return true;
}

bool COptions::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_TIMED_SCANNING:
        TakeFromControls();
        // The box itself decides: with an invalid port the members were not taken.
        Item(IDC_SCAN_INTERVAL).Enable(Checked(hwnd_, IDC_TIMED_SCANNING));
        return true;
    case IDC_ADMIN_ALERT:
        TakeFromControls();
        EnableAdminAlertControls(Checked(hwnd_, IDC_ADMIN_ALERT));
        return true;
    case IDC_CLEAR_LOG:
        ClearLog();
        return true;
    case IDC_VIEW_LOG:
        ViewLog();
        return true;
    case IDC_SEND_TEST_MESSAGE:
        SendTestMessage();
        return true;
    default:
        return false;
    }
}

void COptions::OnShow(bool shown) {
    if (shown) Load();
    else Save();
}

void COptions::OnDestroy() {
    Save();
    clearLogButton_.Detach();
    viewLogButton_.Detach();
    sendTestButton_.Detach();
}

void COptions::Load() {
    const AppSettings& settings = Settings();
    members_.autoScan = settings.AutoScan != 0;
    members_.loadOnStartup = settings.LoadOnStartup != 0;
    members_.loggingEnabled = settings.LoggingEnabled != 0;
    members_.timedScanning = settings.TimedScanning != 0;
    members_.silentMode = settings.SilentMode != 0;
    members_.mailServerPort = settings.MailServerPort;
    members_.alertSubject = settings.AlertSubject;
    members_.mailTo = settings.MailTo;
    members_.mailServer = settings.MailServer;
    members_.adminAlert = settings.AdminAlert != 0;
    members_.intervalIndex = IntervalIndexFor(settings.ScanInterval);
    EnableAdminAlertControls(members_.adminAlert);
    Item(IDC_SCAN_INTERVAL).Enable(members_.timedScanning);
    ::CheckRadioButton(hwnd_, IDC_OPEN_MAIN_WINDOW, IDC_FLASH_TRAY_ICON,
                       settings.ShowUIOnTrojan ? IDC_OPEN_MAIN_WINDOW : IDC_FLASH_TRAY_ICON);
    RefreshLogSize();
    MoveToControls();
}

void COptions::Save() {
    TakeFromControls();
    AppSettings& settings = Settings();
    settings.AutoScan = members_.autoScan;
    settings.LoadOnStartup = members_.loadOnStartup;
    settings.LoggingEnabled = members_.loggingEnabled;
    settings.TimedScanning = members_.timedScanning;
    settings.SilentMode = members_.silentMode;
    settings.AdminAlert = members_.adminAlert;
    settings.ScanInterval = ScanIntervalFor(members_.intervalIndex);
    // The page takes 255 characters; the record keeps what fits its field.
    SetField(settings.MailTo, members_.mailTo.c_str());
    SetField(settings.MailServer, members_.mailServer.c_str());
    SetField(settings.AlertSubject, members_.alertSubject.c_str());
    settings.MailServerPort = members_.mailServerPort;
    settings.ShowUIOnTrojan = Checked(hwnd_, IDC_OPEN_MAIN_WINDOW) ? 1 : 0;
    SaveSettings(settings);
}

bool COptions::TakeFromControls() {
    // The port first, as the user must hear about it before anything is taken.
    int port = 0;
    switch (ParsePort(EditText(hwnd_, IDC_MAIL_SERVER_PORT, 64), port)) {
    case PortEntry::notInteger:
        ShowText("Please enter an integer.");
        return false;
    case PortEntry::outOfRange:
        ShowText("Please enter an integer between 0 and 65535.");
        return false;
    case PortEntry::valid:
        break;
    }
    members_.mailServerPort = port;
    members_.autoScan = Checked(hwnd_, IDC_AUTO_SCAN);
    members_.silentMode = Checked(hwnd_, IDC_SILENT_MODE);
    members_.timedScanning = Checked(hwnd_, IDC_TIMED_SCANNING);
    int selected = static_cast<int>(Item(IDC_SCAN_INTERVAL).Send(CB_GETCURSEL));
    members_.intervalIndex = selected >= 0 && selected < kIntervalChoices ? selected : -1;
    members_.loggingEnabled = Checked(hwnd_, IDC_LOGGING_ENABLED);
    members_.adminAlert = Checked(hwnd_, IDC_ADMIN_ALERT);
    members_.mailTo = EditText(hwnd_, IDC_MAIL_TO, kMailToLimit);
    members_.alertSubject = EditText(hwnd_, IDC_ALERT_SUBJECT, kAlertSubjectLimit);
    members_.mailServer = EditText(hwnd_, IDC_MAIL_SERVER, kMailServerLimit);
    members_.loadOnStartup = Checked(hwnd_, IDC_LOAD_ON_STARTUP);
    return true;
}

void COptions::MoveToControls() {
    SetCheck(hwnd_, IDC_AUTO_SCAN, members_.autoScan);
    SetCheck(hwnd_, IDC_SILENT_MODE, members_.silentMode);
    SetCheck(hwnd_, IDC_TIMED_SCANNING, members_.timedScanning);
    Item(IDC_SCAN_INTERVAL).Send(CB_SETCURSEL, members_.intervalIndex);
    SetCheck(hwnd_, IDC_LOGGING_ENABLED, members_.loggingEnabled);
    Item(IDC_LOG_SIZE).SetText(members_.logSizeText.substr(0, kLogSizeLimit).c_str());
    SetCheck(hwnd_, IDC_ADMIN_ALERT, members_.adminAlert);
    Item(IDC_MAIL_TO).SetText(members_.mailTo.c_str());
    Item(IDC_ALERT_SUBJECT).SetText(members_.alertSubject.c_str());
    Item(IDC_MAIL_SERVER).SetText(members_.mailServer.c_str());
    ::SetDlgItemInt(hwnd_, IDC_MAIL_SERVER_PORT, members_.mailServerPort, TRUE);
    SetCheck(hwnd_, IDC_LOAD_ON_STARTUP, members_.loadOnStartup);
    Item(IDC_VERSION_TEXT).SetText(members_.versionText.c_str());
}

void COptions::RefreshLogSize() {
    // The engine keeps the log open for writing during a run; its size is still wanted.
    unique_file log(::CreateFileA(LogFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD size = log ? ::GetFileSize(log.get(), nullptr) : 0;
    members_.logSizeText = LogSizeText(size == INVALID_FILE_SIZE ? 0 : size);
    MoveToControls();
}

void COptions::ClearLog() {
    TakeFromControls();
    // Truncates an existing log only: a missing one stays missing.
    unique_file log(::CreateFileA(LogFilePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    log.reset();
    RefreshLogSize();
}

void COptions::ViewLog() {
    char windows[MAX_PATH];
    UINT length = ::GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) length = 0;
    g_shellOpener(std::string(windows, length) + "\\Notepad.exe", LogFilePath());
}

void COptions::SendTestMessage() {
    // One at a time; and a port the user was just told is wrong is not used for it.
    if (TestMessageRunning() || !TakeFromControls()) return;
    auto job = std::make_unique<TestMessageJob>(TestMessageJob{
        members_.mailServer, members_.mailTo, members_.alertSubject, static_cast<unsigned long>(members_.mailServerPort)});
    TestState().page = hwnd_;
    TestState().running = true;
    DWORD id = 0;
    testThread_.reset(::CreateThread(nullptr, 0, TestMessageThread, job.get(), 0, &id));
    if (!testThread_) {
        TestState().running = false;
        ShowMessage(IDS_MAIL_OLE_FAILED, static_cast<unsigned long>(HRESULT_FROM_WIN32(::GetLastError())));
        OnTestMessageFailed();
        return;
    }
    job.release();  // the thread's now
    Item(IDC_SEND_TEST_MESSAGE).Enable(false);
}

bool COptions::WaitForTestMessage(DWORD milliseconds) {
    return !testThread_ || ::WaitForSingleObject(testThread_.get(), milliseconds) == WAIT_OBJECT_0;
}

bool COptions::TestMessageRunning() const { return TestState().running; }

void COptions::EnableAdminAlertControls(bool enable) {
    for (int id : kAdminAlertControls) Item(id).Enable(enable);
    Item(IDC_SEND_TEST_MESSAGE).Enable(enable && !TestMessageRunning());
}

void COptions::OnTestMessageFailed() {
    members_.adminAlert = false;
    EnableAdminAlertControls(false);
    MoveToControls();
}

}  // namespace tolvane

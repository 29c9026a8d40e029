// The program between uses of its main window: the tray icon and its menu, the
// automatic and timed scans with the specimens as trojans, the flashing icon, and the
// alert mail arriving at the loopback SMTP server.
#include "app_test_support.h"
#include "engine/specimen_fixture.h"
#include "main_frame.h"
#include "plugin_module.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "shell_hooks.h"
#include "tray/admin_alert.h"
#include "tray/tray_icon.h"
#include "ui/message_box.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr UINT kTrayCallback = WM_USER + 10;
const char kAlertText[] =
    "A trojan has been detected on the machine identified above. Please consult the Tolvane logfile on this "
    "machine for details of the infection.\r\n";

struct NotifyRequest {
    DWORD request;
    NOTIFYICONDATAA data;
};
std::vector<NotifyRequest> g_requests;

BOOL WINAPI RecordNotifyIcon(DWORD request, NOTIFYICONDATAA* data) {
    g_requests.push_back({request, *data});
    return TRUE;
}

HICON ProgramIcon(UINT id) { return ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id)); }

// The loopback SMTP server CTest started: its port and the messages it stored.
class SmtpSink {
public:
    SmtpSink() {
        const char* folder = std::getenv("TOLVANE_SMTP_SINK");
        if (!folder) return;
        // The server is a Unix process; Wine shows the root of Unix as drive Z:.
        folder_ = std::string("Z:") + folder;
        for (char& c : folder_) c = c == '/' ? '\\' : c;
        port_ = std::atoi(ReadText(folder_ + "\\port").c_str());
    }
    int port() const { return port_; }
    // Every stored message with that subject, waiting up to `milliseconds` for the first.
    std::vector<std::string> Messages(const std::string& subject, DWORD milliseconds) const {
        std::vector<std::string> found;
        DWORD start = ::GetTickCount();
        do {
            found.clear();
            WIN32_FIND_DATAA data;
            unique_find find(::FindFirstFileA((folder_ + "\\messages\\*.eml").c_str(), &data));
            if (find) {
                do {
                    std::string text = ReadText(folder_ + "\\messages\\" + data.cFileName);
                    if (text.find("\r\nSubject: " + subject + "\r\n") != std::string::npos) found.push_back(text);
                } while (::FindNextFileA(find.get(), &data));
            }
            if (!found.empty()) break;
            ::Sleep(50);
        } while (::GetTickCount() - start < milliseconds);
        return found;
    }

private:
    std::string folder_;
    int port_ = 0;
};

class TrayTest : public SpecimenEngineTest {
protected:
    void SetUp() override {
        SpecimenEngineTest::SetUp();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        Settings() = DefaultAppSettings();
        Settings().LoggingEnabled = 0;
        Settings().AutoScan = 0;
        Settings().TimedScanning = 0;
        detectionPending = -1;
        g_requests.clear();
        previousCall_ = SetNotifyIconCall(RecordNotifyIcon);
        SetAdminAlertStarter(StartAdminAlertThread);
    }
    void TearDown() override {
        frame_.reset();
        EXPECT_TRUE(WaitForAlertThreads(20000)) << "an alert thread still runs";
        SetAdminAlertStarter(nullptr);
        SetNotifyIconCall(previousCall_);
        scanModule_.Call("DllUnregisterServer");
        SpecimenEngineTest::TearDown();
    }
    // The frame as the program creates it, icon, automatic scan and timer included.
    void CreateFrame() {
        frame_ = std::make_unique<CMainFrame>();
        ASSERT_TRUE(frame_->Create());
    }
    void ConfigureAlert(const std::string& subject) {
        ASSERT_GT(sink_.port(), 0) << "TOLVANE_SMTP_SINK names the loopback server's folder";
        AppSettings& settings = Settings();
        settings.AdminAlert = 1;
        std::strcpy(settings.MailServer, "127.0.0.1");
        std::strcpy(settings.MailTo, "admin@example.com");
        std::strcpy(settings.AlertSubject, subject.c_str());
        settings.MailServerPort = sink_.port();
    }
    // Waits for the main window on another thread, runs `script` on it and hides it.
    std::thread DriveMainWindow(const std::function<void(HWND sheet, HWND page)>& script) {
        return std::thread([script] {
            HWND sheet =
                WaitForProcessWindow(::GetCurrentProcess(), ::GetCurrentProcessId(), nullptr, "Tolvane v3.5", 10000);
            if (!sheet) return ADD_FAILURE() << "the main window did not open";
            HWND page = reinterpret_cast<HWND>(::SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
            script(sheet, page);
            ::PostMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(sheet, IDCANCEL)));
        });
    }
    static std::vector<std::string> ListedRows(HWND page) {
        HWND list = ::GetDlgItem(page, IDC_RESULT_LIST);
        std::vector<std::string> rows;
        int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            char text[520] = {};
            LVITEMA item{};
            item.iSubItem = 1;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            rows.push_back(text);
        }
        return rows;
    }
    // Timed scans every 200 milliseconds whose findings make the icon flash, with no mail.
    static void ScanEveryMomentAndFlash() {
        AppSettings& settings = Settings();
        settings.TimedScanning = 1;
        settings.ScanInterval = 200;
        settings.ShowUIOnTrojan = 0;
        settings.AdminAlert = 0;
    }
    std::vector<DWORD> Requests() const {
        std::vector<DWORD> kinds;
        for (const auto& r : g_requests) kinds.push_back(r.request);
        return kinds;
    }

    PluginModule scanModule_{"kwreng32.dll"};
    std::unique_ptr<CMainFrame> frame_;
    NotifyIconCall previousCall_ = nullptr;
    SmtpSink sink_;
};

BOOL CALLBACK FindPopupMenu(HWND window, LPARAM found) {
    char className[16];
    if (::IsWindowVisible(window) && ::GetClassNameA(window, className, sizeof className) &&
        std::string(className) == "#32768") {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

std::string DialogText(HWND dialog) { return dialog ? StaticText(dialog) : "<nothing>"; }

}  // namespace

TEST_F(TrayTest, IconIsAddedWithItsTipAndItsMenuOpensTheMainWindowAndExits) {
    CaughtMessages caught;
    CreateFrame();
    HWND frame = frame_->Handle();
    ASSERT_EQ(std::vector<DWORD>{NIM_ADD}, Requests());
    const NOTIFYICONDATAA& added = g_requests[0].data;
    // The first shells' record: 88 bytes in a 32-bit program, 104 in a 64-bit one.
    EXPECT_EQ(sizeof(void*) == 8 ? 104u : 88u, added.cbSize);
    EXPECT_EQ(frame, added.hWnd);
    EXPECT_EQ(140u, added.uID);
    EXPECT_EQ(UINT{NIF_ICON | NIF_TIP | NIF_MESSAGE}, added.uFlags);
    EXPECT_EQ(kTrayCallback, added.uCallbackMessage);
    EXPECT_EQ(ProgramIcon(IDI_TRAY), added.hIcon);
    EXPECT_STREQ("Tolvane v3.5", added.szTip);

    // A single click is no request.
    ::SendMessageA(frame, kTrayCallback, 140, WM_LBUTTONUP);
    ::SendMessageA(frame, kTrayCallback, 141, WM_LBUTTONDBLCLK);
    ASSERT_EQ(1u, g_requests.size());

    bool hiddenWhileOpen = false;
    std::thread driver = DriveMainWindow([&](HWND, HWND) {
        hiddenWhileOpen = frame_->TrayIcon().Hidden() && g_requests.back().request == NIM_DELETE;
    });
    ::SendMessageA(frame, kTrayCallback, 140, WM_LBUTTONDBLCLK);
    driver.join();
    EXPECT_TRUE(hiddenWhileOpen) << "the icon leaves the tray while the main window is open";
    EXPECT_EQ(NIM_ADD, g_requests.back().request) << "and comes back when it closes";
    EXPECT_FALSE(frame_->TrayIcon().Hidden());

    // A restarted shell holds no icon until the program adds it again, tip and all.
    g_requests.clear();
    ::SendMessageA(frame, TaskbarCreatedMessage(), 0, 0);
    ASSERT_EQ(std::vector<DWORD>{NIM_ADD}, Requests());
    EXPECT_STREQ("Tolvane v3.5", g_requests[0].data.szTip);

    std::vector<std::string> items;
    int defaultItem = -2;
    std::thread menuDriver([&] {
        HWND menuWindow = nullptr;
        for (int i = 0; i < 200 && !menuWindow; ++i) {
            ::Sleep(50);
            ::EnumThreadWindows(::GetWindowThreadProcessId(frame, nullptr), FindPopupMenu,
                                reinterpret_cast<LPARAM>(&menuWindow));
        }
        if (!menuWindow) return ADD_FAILURE() << "no pop-up menu";
        HMENU menu = reinterpret_cast<HMENU>(::SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
        for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
            char text[32] = {};
            ::GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            items.push_back(text);
        }
        defaultItem = static_cast<int>(::GetMenuDefaultItem(menu, TRUE, 0));
        // Down to "Open", past the separator to "Exit", and choose it.
        for (WPARAM key : {VK_DOWN, VK_DOWN, VK_RETURN}) {
            ::PostMessageA(menuWindow, WM_KEYDOWN, key, 0);
            ::Sleep(100);
        }
    });
    ::SendMessageA(frame, kTrayCallback, 140, WM_RBUTTONUP);
    menuDriver.join();
    EXPECT_EQ((std::vector<std::string>{"Open", "", "Exit"}), items);
    EXPECT_EQ(0, defaultItem) << "\"Open\" is the bold item";
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(frame); }, 10000)) << "\"Exit\" closes the frame";
    ASSERT_FALSE(g_requests.empty());
    EXPECT_EQ(NIM_DELETE, g_requests.back().request) << "the icon is taken out with the frame";
    EXPECT_TRUE(caught.shown().empty());
}

TEST_F(TrayTest, AutomaticScanFindingATrojanOpensTheMainWindowWithItAndMailsTheAdministrator) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    ConfigureAlert("Tolvane alert opened");
    Settings().AutoScan = 1;
    Settings().ShowUIOnTrojan = 1;
    CaughtMessages caught;
    std::vector<std::string> rows;
    bool removeEnabled = false;
    std::thread driver = DriveMainWindow([&](HWND, HWND page) {
        rows = ListedRows(page);
        removeEnabled = ::IsWindowEnabled(::GetDlgItem(page, IDC_REMOVE)) != FALSE;
    });
    CreateFrame();
    driver.join();
    EXPECT_EQ(std::vector<std::string>{path}, rows);
    EXPECT_TRUE(removeEnabled);
    EXPECT_EQ(-1, detectionPending);
    EXPECT_EQ(0u, frame_->FlashTimer());
    EXPECT_TRUE(caught.shown().empty());

    std::vector<std::string> mails = sink_.Messages("Tolvane alert opened", 20000);
    ASSERT_EQ(1u, mails.size());
    EXPECT_NE(std::string::npos, mails[0].find("\nto admin@example.com\n")) << mails[0];
    std::size_t machine = mails[0].find("\r\n\r\nMachine Name: ");
    std::size_t user = mails[0].find("\r\nUser Name: ");
    std::size_t text = mails[0].find(kAlertText);
    ASSERT_NE(std::string::npos, machine) << mails[0];
    EXPECT_LT(machine, user) << mails[0];
    EXPECT_NE(std::string::npos, text) << "the alert text follows the machine and user names:\n" << mails[0];
    EXPECT_LT(user, text);
}

TEST_F(TrayTest, WithoutShowUIOnTrojanTheIconFlashesUntilTheMainWindowListsTheFindings) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    Settings().AutoScan = 1;
    Settings().ShowUIOnTrojan = 0;
    Settings().AdminAlert = 0;
    CaughtMessages caught;
    CreateFrame();
    EXPECT_NE(0u, frame_->FlashTimer());
    EXPECT_EQ(1, detectionPending);
    HICON normal = ProgramIcon(IDI_TRAY), alert = ProgramIcon(IDI_TRAY_ALERT);
    ASSERT_TRUE(PumpUntil([&] { return g_requests.size() >= 4; }, 5000)) << g_requests.size();
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(NIM_MODIFY, g_requests[i].request) << i;
        EXPECT_EQ(i % 2 ? alert : normal, g_requests[i].data.hIcon) << "tick " << i;
    }

    std::vector<std::string> rows;
    std::thread driver = DriveMainWindow([&](HWND, HWND page) { rows = ListedRows(page); });
    frame_->ShowMainWindow();
    driver.join();
    EXPECT_EQ(std::vector<std::string>{path}, rows);
    EXPECT_EQ(0u, frame_->FlashTimer());
    EXPECT_EQ(normal, frame_->TrayIcon().Icon()) << "flashing ends on the normal icon";
    EXPECT_TRUE(caught.shown().empty());
}

TEST_F(TrayTest, TimedScansRunEveryIntervalAndReportNothingFoundUnlessSilent) {
    ScanEveryMomentAndFlash();
    Settings().SilentMode = 0;
    CaughtMessages caught;
    CreateFrame();
    EXPECT_NE(0u, frame_->ScanTimer());
    ASSERT_TRUE(PumpUntil([&] { return caught.shown().size() >= 2; }, 10000)) << "two timed scans";
    for (const auto& shown : caught.shown()) {
        EXPECT_EQ("No trojans were detected on your system.", shown.text);
        EXPECT_EQ(UINT{MB_OK | MB_ICONINFORMATION}, shown.type);
    }
    EXPECT_NE(0u, frame_->ScanTimer()) << "the timer runs on after a scan";

    Settings().SilentMode = 1;
    std::size_t before = caught.shown().size();
    PumpUntil([] { return false; }, 1500);
    EXPECT_LE(caught.shown().size(), before + 1) << "at most the scan that had already begun speaks";
    std::size_t after = caught.shown().size();
    PumpUntil([] { return false; }, 1000);
    EXPECT_EQ(after, caught.shown().size()) << "silent timed scans say nothing";
    // Yet they still run: the next one finds a trojan started now.
    Start(Place("netbus_350000.exe"));
    EXPECT_TRUE(PumpUntil([&] { return frame_->FlashTimer() != 0; }, 10000)) << "the timed scans stopped";
    EXPECT_EQ(after, caught.shown().size());
}

TEST_F(TrayTest, AutomaticScanFindingsThatWaitForTheUserKeepTheScanTimerStopped) {
    Start(Place("netbus_350000.exe"));
    Settings().AutoScan = 1;
    ScanEveryMomentAndFlash();
    CaughtMessages caught;
    CreateFrame();
    EXPECT_NE(0u, frame_->FlashTimer());
    EXPECT_EQ(1, detectionPending);
    EXPECT_EQ(0u, frame_->ScanTimer()) << "a timed scan would start a new engine run over the findings";

    // The timer starts again once the main window has shown them.
    std::thread driver = DriveMainWindow([](HWND, HWND) {});
    frame_->ShowMainWindow();
    driver.join();
    EXPECT_NE(0u, frame_->ScanTimer());
    EXPECT_TRUE(caught.shown().empty());
}

TEST_F(TrayTest, OpenWhileTheMainWindowIsOpenBringsItForwardAndACloseWaitsForIt) {
    CaughtMessages caught;
    CreateFrame();
    HWND frame = frame_->Handle();
    DWORD uiThread = ::GetCurrentThreadId();
    std::size_t sheetsAfterOpen = 0;
    bool openAfterClose = false;
    std::thread driver = DriveMainWindow([&](HWND sheet, HWND) {
        ::PostMessageA(frame, WM_COMMAND, ID_OPEN, 0);
        ::Sleep(1000);
        sheetsAfterOpen = ThreadDialogs(uiThread, "Tolvane v3.5").size();
        // A nested main window is closed first, so that the outer one can end.
        for (HWND other : ThreadDialogs(uiThread, "Tolvane v3.5"))
            if (other != sheet) ::PostMessageA(other, WM_COMMAND, IDCANCEL, 0);
        ::PostMessageA(frame, WM_CLOSE, 0, 0);
        ::Sleep(500);
        openAfterClose = ::IsWindow(sheet) && ::IsWindowVisible(sheet);
    });
    ::SendMessageA(frame, kTrayCallback, 140, WM_LBUTTONDBLCLK);
    driver.join();
    EXPECT_EQ(1u, sheetsAfterOpen) << "\"Open\" ran the main window inside itself";
    EXPECT_TRUE(openAfterClose) << "the close did not wait for the main window";
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(frame); }, 5000)) << "the close was lost";
    EXPECT_TRUE(caught.shown().empty());
}

namespace {
HWND g_frame = nullptr;
int g_boxes = 0;
// The user chooses "Exit" and then "Open" from the tray while the scan's box is up.
int ExitAndOpenDuringTheBox(const std::string&, UINT, HWND) {
    if (++g_boxes > 1) return IDOK;
    ::SendMessageA(g_frame, WM_COMMAND, ID_APP_EXIT, 0);
    PumpUntil([] { return false; }, 200);
    ::SendMessageA(g_frame, WM_COMMAND, ID_OPEN, 0);
    return IDOK;
}
}  // namespace

TEST_F(TrayTest, ExitChosenDuringAScanMessageThenOpenStillEndsTheProgram) {
    ScanEveryMomentAndFlash();
    Settings().SilentMode = 0;
    CreateFrame();
    g_frame = frame_->Handle();
    g_boxes = 0;
    MessageSink previous = SetMessageSink(ExitAndOpenDuringTheBox);
    bool ended = PumpUntil([&] { return !::IsWindow(g_frame); }, 10000);
    SetMessageSink(previous);
    EXPECT_LE(1, g_boxes) << "no timed scan spoke";
    EXPECT_TRUE(ended) << "\"Open\" took back the \"Exit\"";
}

TEST_F(TrayTest, AutomaticScanWithUnusableSignatureFilesAndNoDownloadEndsTheProgram) {
    ASSERT_TRUE(::DeleteFileA((folder_ + "\\tsigs.kws").c_str()));
    Settings().AutoScan = 1;
    CaughtMessages caught;
    CreateFrame();
    HWND frame = frame_->Handle();
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(frame); }, 10000)) << "the frame stays";
    EXPECT_TRUE(caught.shown().empty()) << "no download to offer, so no question: " << caught.shown()[0].text;
}

TEST_F(TrayTest, TimedScanFindingATrojanWithoutTheWindowWaitsForTheUserAndMails) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    ConfigureAlert("Tolvane alert timed");
    Settings().TimedScanning = 1;
    Settings().ScanInterval = 200;
    Settings().ShowUIOnTrojan = 0;
    CaughtMessages caught;
    CreateFrame();
    ASSERT_TRUE(PumpUntil([&] { return frame_->FlashTimer() != 0; }, 10000)) << "the timed scan found nothing";
    EXPECT_EQ(0u, frame_->ScanTimer()) << "no timed scan over findings that wait for the user";
    EXPECT_EQ(1u, sink_.Messages("Tolvane alert timed", 20000).size());
    PumpUntil([] { return false; }, 600);
    EXPECT_EQ(1u, sink_.Messages("Tolvane alert timed", 0).size()) << "one mail per detection";
    EXPECT_TRUE(caught.shown().empty());
}

TEST_F(TrayTest, ProgramStartedWithAutoScanMailsFlashesOpensFromTheTrayAndExits) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    ConfigureAlert("Tolvane alert program");
    Settings().AutoScan = 1;
    Settings().ShowUIOnTrojan = 0;
    ASSERT_TRUE(SaveSettings(Settings()));
    ASSERT_TRUE(SetDword(kProductKey, "Installed", 1));

    std::string exe = ModuleDirectory() + "\\Tolvane.exe";
    std::string command = "\"" + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info));
    unique_handle process(info.hProcess), thread(info.hThread);
    auto end = scope_exit([&] {
        if (::WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 5000);
    });

    EXPECT_EQ(1u, sink_.Messages("Tolvane alert program", 20000).size()) << "the program's scan mails";
    HWND frame = nullptr;
    for (int i = 0; i < 200 && !(frame = ::FindWindowA(kMainFrameClass, nullptr)); ++i) ::Sleep(50);
    ASSERT_NE(nullptr, frame);
    ::PostMessageA(frame, kTrayCallback, 140, WM_LBUTTONDBLCLK);
    HWND sheet = WaitForProcessWindow(process.get(), info.dwProcessId, nullptr, "Tolvane v3.5", 10000);
    ASSERT_NE(nullptr, sheet) << "a double-click on the icon opens the main window; shown instead: "
                              << DialogText(WaitForProcessWindow(process.get(), info.dwProcessId, "#32770", nullptr));
    HWND page = reinterpret_cast<HWND>(::SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    // Another process's list hands out no texts, only its count.
    EXPECT_EQ(1, ::SendMessageA(::GetDlgItem(page, IDC_RESULT_LIST), LVM_GETITEMCOUNT, 0, 0))
        << "the finding of the start-up scan";
    ::PostMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(sheet, IDCANCEL)));
    for (int i = 0; i < 100 && ::IsWindow(sheet); ++i) ::Sleep(50);
    EXPECT_FALSE(::IsWindow(sheet));

    ::PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), 10000)) << "\"Exit\" ends the program";
    DWORD code = 0x5A5A;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(0u, code);
}

// The Options page as a user meets it: the main window shown on the test thread, the
// Options tab driven from a second thread through its controls, and what reaches the
// registry, the log file and the loopback mail server.
#include "app_test_support.h"
#include "engine/loopback_smtp_sink.h"
#include "pages/my_property_sheet.h"
#include "pages/options_page.h"
#include "plugin_module.h"
#include "registry_support.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "test_support.h"
#include "tray/admin_alert.h"
#include "tray/email_object.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <new>
#include <thread>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kMain = kProductKey;
const std::string kAdminAlert = kMain + "\\AdminAlert";
constexpr int kDetectTab = 0;
constexpr int kOptionsTab = 1;

TEST(OptionsValues, IntervalListShowsWholeMinutesOneToTenAndStoresNoChoiceAsOneMinute) {
    EXPECT_EQ(-1, IntervalIndexFor(3)) << "the first-run default is 3 ms";
    EXPECT_EQ(-1, IntervalIndexFor(59999));
    EXPECT_EQ(0, IntervalIndexFor(60000));
    EXPECT_EQ(0, IntervalIndexFor(119999));
    EXPECT_EQ(9, IntervalIndexFor(600000));
    EXPECT_EQ(-1, IntervalIndexFor(660000)) << "eleven minutes is not offered";
    EXPECT_EQ(-1, IntervalIndexFor(-60000));
    EXPECT_EQ(60000, ScanIntervalFor(-1));
    EXPECT_EQ(60000, ScanIntervalFor(0));
    EXPECT_EQ(600000, ScanIntervalFor(9));
}

TEST(OptionsValues, LogSizeCountsBytesUpToOneThousandThenWholeKilobytes) {
    EXPECT_EQ("0 bytes.", LogSizeText(0));
    EXPECT_EQ("1000 bytes.", LogSizeText(1000));
    EXPECT_EQ("1 Kbytes.", LogSizeText(1001));
    EXPECT_EQ("2 Kbytes.", LogSizeText(2500));
}

TEST(OptionsValues, PortMustBeAnIntegerFromZeroTo65535) {
    int port = -7;
    EXPECT_EQ(PortEntry::valid, ParsePort(" 2525 ", port));
    EXPECT_EQ(2525, port);
    EXPECT_EQ(PortEntry::valid, ParsePort("0", port));
    EXPECT_EQ(0, port);
    EXPECT_EQ(PortEntry::valid, ParsePort("65535", port));
    EXPECT_EQ(65535, port);
    port = -7;
    for (const char* text : {"", " ", "abc", "25x", "2 5", "-", "+"}) {
        EXPECT_EQ(PortEntry::notInteger, ParsePort(text, port)) << '"' << text << '"';
    }
    for (const char* text : {"65536", "-1", "99999999999999999999"}) {
        EXPECT_EQ(PortEntry::outOfRange, ParsePort(text, port)) << text;
    }
    EXPECT_EQ(-7, port) << "a refused entry leaves the port alone";
}

std::vector<std::pair<std::string, std::string>> g_opened;
void RecordOpen(const std::string& file, const std::string& parameters) { g_opened.emplace_back(file, parameters); }

class OptionsPage : public LoopbackSmtpSink {
protected:
    void SetUp() override {
        LoopbackSmtpSink::SetUp();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        savedDirectory_ = CurrentDirectory();
        ASSERT_TRUE(::SetCurrentDirectoryA(logFolder_.path().c_str()));
        Settings() = DefaultAppSettings();
        g_opened.clear();
        SetShellOpener(RecordOpen);
    }
    void TearDown() override {
        SetShellOpener(nullptr);
        ::SetCurrentDirectoryA(savedDirectory_.c_str());
        scanModule_.Call("DllUnregisterServer");
        Settings() = DefaultAppSettings();
    }

    // Shows the main window on this thread with the Options tab chosen while `script`
    // drives it from another; "Hide Window" closes it afterwards.
    void WithOptionsPage(const std::function<void()>& script) {
        DWORD uiThread = ::GetCurrentThreadId();
        std::thread driver([&] {
            sheet_ = WaitForThreadWindow(uiThread, "Tolvane v3.5", 10000);
            if (!sheet_) return ADD_FAILURE() << "the main window did not open";
            SelectTab(kOptionsTab);
            script();
            if (::IsWindow(sheet_))
                ::PostMessageA(sheet_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(sheet_, IDCANCEL)));
        });
        ASSERT_EQ(IDCANCEL, mainWindow_.DoModal(nullptr));
        driver.join();
    }
    void SelectTab(int index) {
        ::SendMessageA(sheet_, PSM_SETCURSEL, index, 0);
        page_ = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
    }
    HWND Control(int id) { return ::GetDlgItem(page_, id); }
    void Click(int id) { ClickButton(page_, id); }
    // What a click on a check box or radio button does: its state, then its notification.
    void SetCheck(int id, bool checked) {
        ::SendMessageA(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
        Click(id);
    }
    bool Checked(int id) { return ::SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) { return ::IsWindowEnabled(Control(id)) != FALSE; }
    void Type(int id, const std::string& text) { ::SetWindowTextA(Control(id), text.c_str()); }
    std::string Text(int id) {
        char text[1024] = {};
        ::GetWindowTextA(Control(id), text, sizeof text);
        return text;
    }
    int IntervalChoice() { return static_cast<int>(::SendMessageA(Control(IDC_SCAN_INTERVAL), CB_GETCURSEL, 0, 0)); }
    void ChooseInterval(int index) {
        ::SendMessageA(Control(IDC_SCAN_INTERVAL), CB_SETCURSEL, index, 0);
    }
    void ExpectAdminAlertFieldsEnabled(bool enabled) {
        for (int id : {IDC_MAIL_TO_LABEL, IDC_MAIL_TO, IDC_ALERT_SUBJECT_LABEL, IDC_ALERT_SUBJECT, IDC_MAIL_SERVER_LABEL,
                       IDC_MAIL_SERVER, IDC_MAIL_SERVER_PORT_LABEL, IDC_MAIL_SERVER_PORT, IDC_SEND_TEST_MESSAGE})
            EXPECT_EQ(enabled, Enabled(id)) << "control " << id;
    }
    void FillMailSettings(const std::string& subject, int port) {
        SetCheck(IDC_ADMIN_ALERT, true);
        Type(IDC_MAIL_SERVER, "127.0.0.1");
        Type(IDC_MAIL_TO, "admin@example.com");
        Type(IDC_ALERT_SUBJECT, subject);
        Type(IDC_MAIL_SERVER_PORT, std::to_string(port));
    }
    void SendTestMessage() {
        Click(IDC_SEND_TEST_MESSAGE);
        ASSERT_TRUE(mainWindow_.OptionsPage().WaitForTestMessage(60000)) << "the test message did not end";
    }

    struct Stored {
        DWORD type = REG_NONE;
        std::vector<unsigned char> data;
    };
    static Stored Read(const std::string& key, const char* name) {
        Stored value;
        ReadValue(HKEY_LOCAL_MACHINE, key, name, value.type, value.data);
        return value;
    }
    static void ExpectNumber(const std::string& key, const char* name, DWORD type, std::uint32_t number) {
        SCOPED_TRACE(name);
        Stored value = Read(key, name);
        EXPECT_EQ(type, value.type);
        ASSERT_EQ(4u, value.data.size());
        std::uint32_t stored;
        std::memcpy(&stored, value.data.data(), 4);
        EXPECT_EQ(number, stored);
    }

    ScopedProductKey productKey_;
    PluginModule scanModule_{"kwreng32.dll"};
    TempDir logFolder_;
    std::string savedDirectory_;
    CMyPropertySheet mainWindow_{nullptr, nullptr, IDS_CAPTION};
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
};

TEST_F(OptionsPage, EditedOptionsReachTheRegistryWithTheirTypesWhenThePageIsLeft) {
    CaughtMessages caught;
    WithOptionsPage([&] {
        EXPECT_EQ(3u, mainWindow_.PageCount()) << "Detect/Remove, Options and Program Status";
        EXPECT_EQ("Tolvane v3.5", Text(IDC_VERSION_TEXT));
        EXPECT_EQ(CB_ERR, IntervalChoice()) << "3 ms shows no interval";
        EXPECT_FALSE(Enabled(IDC_SCAN_INTERVAL));
        ExpectAdminAlertFieldsEnabled(false);
        EXPECT_TRUE(Checked(IDC_OPEN_MAIN_WINDOW));

        SetCheck(IDC_TIMED_SCANNING, true);
        EXPECT_TRUE(Enabled(IDC_SCAN_INTERVAL));
        ChooseInterval(9);
        SetCheck(IDC_AUTO_SCAN, false);
        SetCheck(IDC_SILENT_MODE, true);
        SetCheck(IDC_LOGGING_ENABLED, false);
        SetCheck(IDC_FLASH_TRAY_ICON, true);
        SetCheck(IDC_OPEN_MAIN_WINDOW, false);
        FillMailSettings("Subject on the page", 2525);
        ExpectAdminAlertFieldsEnabled(true);
        Type(IDC_MAIL_TO, std::string(200, 'm'));
        SelectTab(kDetectTab);
    });
    EXPECT_TRUE(caught.shown().empty()) << caught.shown()[0].text;
    ExpectNumber(kMain, "AutoScan", REG_BINARY, 0);
    ExpectNumber(kMain, "SilentMode", REG_BINARY, 1);
    ExpectNumber(kMain, "TimedScanning", REG_BINARY, 1);
    ExpectNumber(kMain, "LoggingEnabled", REG_BINARY, 0);
    ExpectNumber(kMain, "LoadOnStartup", REG_BINARY, 0);
    ExpectNumber(kMain, "ScanInterval", REG_DWORD, 600000);
    ExpectNumber(kMain, "ShowUIOnTrojan", REG_BINARY, 0);
    ExpectNumber(kAdminAlert, "AdminAlert", REG_BINARY, 1);
    ExpectNumber(kAdminAlert, "MailServerPort", REG_DWORD, 2525);
    EXPECT_EQ("127.0.0.1", ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailServer"));
    EXPECT_EQ("Subject on the page", ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "AlertSubject"));
    EXPECT_EQ(std::string(127, 'm'), ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo"))
        << "cut to the record's field";
    EXPECT_EQ(600000, Settings().ScanInterval);
}

TEST_F(OptionsPage, StoredSettingsAreShownAndUncheckingMonitorGreysTheIntervalAtOnce) {
    Settings().TimedScanning = 1;
    Settings().ScanInterval = 300000;
    Settings().AdminAlert = 1;
    Settings().ShowUIOnTrojan = 0;
    Settings().MailServerPort = 587;
    CaughtMessages caught;
    WithOptionsPage([&] {
        EXPECT_EQ(4, IntervalChoice()) << "five minutes";
        EXPECT_TRUE(Enabled(IDC_SCAN_INTERVAL));
        EXPECT_TRUE(Checked(IDC_TIMED_SCANNING));
        ExpectAdminAlertFieldsEnabled(true);
        EXPECT_TRUE(Checked(IDC_FLASH_TRAY_ICON));
        EXPECT_FALSE(Checked(IDC_OPEN_MAIN_WINDOW));
        EXPECT_EQ("587", Text(IDC_MAIL_SERVER_PORT));
        SetCheck(IDC_TIMED_SCANNING, false);
        EXPECT_FALSE(Enabled(IDC_SCAN_INTERVAL));
        SetCheck(IDC_ADMIN_ALERT, false);
        ExpectAdminAlertFieldsEnabled(false);
    });
    ExpectNumber(kMain, "TimedScanning", REG_BINARY, 0);
    ExpectNumber(kMain, "ScanInterval", REG_DWORD, 300000);
    ExpectNumber(kAdminAlert, "AdminAlert", REG_BINARY, 0);
}

TEST_F(OptionsPage, NoIntervalChosenIsSavedAsOneMinuteWhenTheWindowCloses) {
    ASSERT_EQ(3, Settings().ScanInterval);
    WithOptionsPage([&] { EXPECT_EQ(CB_ERR, IntervalChoice()); });
    ExpectNumber(kMain, "ScanInterval", REG_DWORD, 60000);
    EXPECT_EQ(60000, Settings().ScanInterval);
}

TEST_F(OptionsPage, InvalidPortIsRefusedAndNoneOfThePagesEntriesIsTaken) {
    const std::string defaultRecipient = DefaultAppSettings().MailTo;
    CaughtMessages caught;
    WithOptionsPage([&] {
        Type(IDC_MAIL_TO, "someone@example.com");
        Type(IDC_MAIL_SERVER_PORT, "smtp");
        SelectTab(kDetectTab);
        EXPECT_EQ(defaultRecipient, ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo"));
        ExpectNumber(kAdminAlert, "MailServerPort", REG_DWORD, 25);
        SelectTab(kOptionsTab);
        EXPECT_EQ("25", Text(IDC_MAIL_SERVER_PORT)) << "the page shows what was saved";
        EXPECT_EQ(defaultRecipient, Text(IDC_MAIL_TO));
        SetCheck(IDC_ADMIN_ALERT, true);
        Type(IDC_MAIL_SERVER_PORT, "65536");
        Click(IDC_SEND_TEST_MESSAGE);
        EXPECT_TRUE(mainWindow_.OptionsPage().WaitForTestMessage(0)) << "no test message with a refused port";
        Type(IDC_MAIL_SERVER_PORT, " 2525");
    });
    ASSERT_EQ(2u, caught.shown().size());
    EXPECT_EQ("Please enter an integer.", caught.shown()[0].text);
    EXPECT_EQ("Please enter an integer between 0 and 65535.", caught.shown()[1].text);
    EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[1].type);
    // Closing the window saved a valid port again, and everything with it.
    ExpectNumber(kAdminAlert, "MailServerPort", REG_DWORD, 2525);
    ExpectNumber(kAdminAlert, "AdminAlert", REG_BINARY, 1);
}

TEST_F(OptionsPage, LogSizeIsShownClearLogEmptiesItAndViewLogOpensItInNotepad) {
    ASSERT_TRUE(WriteText(logFolder_ / "Tolvane.log", std::string(2500, 'x')));
    CaughtMessages caught;
    WithOptionsPage([&] {
        EXPECT_EQ("2 Kbytes.", Text(IDC_LOG_SIZE));
        Click(IDC_CLEAR_LOG);
        EXPECT_EQ("0 bytes.", Text(IDC_LOG_SIZE));
        Click(IDC_VIEW_LOG);
    });
    EXPECT_TRUE(caught.shown().empty()) << "no confirmation";
    EXPECT_TRUE(FileExists(logFolder_ / "Tolvane.log"));
    EXPECT_TRUE(ReadBytes(logFolder_ / "Tolvane.log").empty());
    char windows[MAX_PATH];
    ::GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_EQ(1u, g_opened.size());
    EXPECT_EQ(std::string(windows) + "\\Notepad.exe", g_opened[0].first);
    EXPECT_TRUE(SamePath(logFolder_ / "Tolvane.log", g_opened[0].second)) << g_opened[0].second;
}

TEST_F(OptionsPage, ClearLogCreatesNoLogWhereNoneWas) {
    WithOptionsPage([&] {
        EXPECT_EQ("0 bytes.", Text(IDC_LOG_SIZE));
        Click(IDC_CLEAR_LOG);
        EXPECT_EQ("0 bytes.", Text(IDC_LOG_SIZE));
    });
    EXPECT_FALSE(FileExists(logFolder_ / "Tolvane.log"));
}

TEST_F(OptionsPage, TestMessageArrivesAtTheMailServerAndSaysSo) {
    const std::string subject = "Options page test message";
    CaughtMessages caught;
    WithOptionsPage([&] {
        FillMailSettings(subject, port_);
        SendTestMessage();
        EXPECT_TRUE(Checked(IDC_ADMIN_ALERT));
        ExpectAdminAlertFieldsEnabled(true);
    });
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(LoadMessage(IDS_TEST_MESSAGE_SENT), caught.shown()[0].text);
    EXPECT_EQ(UINT{MB_OK}, caught.shown()[0].type);
    ReceivedMail mail = Received(subject);
    EXPECT_EQ(std::vector<std::string>{"admin@example.com"}, mail.to);
    EXPECT_NE(std::string::npos, mail.body.find(kTestMessageText)) << mail.body;
    ExpectNumber(kAdminAlert, "AdminAlert", REG_BINARY, 1);
}

TEST_F(OptionsPage, RefusedConnectionShowsTheSendFailureAndSwitchesAdminAlertOff) {
    // A port that was free a moment ago: nothing listens there.
    int closedPort = 0;
    {
        WSADATA data;
        ASSERT_EQ(0, ::WSAStartup(MAKEWORD(1, 1), &data));
        unique_socket probe(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
        ASSERT_EQ(0, ::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
        int length = sizeof address;
        ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
        closedPort = ntohs(address.sin_port);
        probe.reset();
        ::WSACleanup();
    }
    CaughtMessages caught;
    WithOptionsPage([&] {
        FillMailSettings("never sent", closedPort);
        SendTestMessage();
        EXPECT_FALSE(Checked(IDC_ADMIN_ALERT));
        ExpectAdminAlertFieldsEnabled(false);
    });
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(FormatMessageText(IDS_MAIL_SEND_FAILED, 0x80004005), caught.shown()[0].text);
    EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[0].type);
    ExpectNumber(kAdminAlert, "AdminAlert", REG_BINARY, 0);
}

TEST_F(OptionsPage, MissingMailObjectShowsTheOleFailure) {
    ASSERT_EQ(S_OK, scanModule_.Call("DllUnregisterServer"));
    CaughtMessages caught;
    WithOptionsPage([&] {
        FillMailSettings("no mail object", port_);
        SendTestMessage();
        EXPECT_FALSE(Checked(IDC_ADMIN_ALERT));
    });
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(FormatMessageText(IDS_MAIL_OLE_FAILED, static_cast<unsigned long>(REGDB_E_CLASSNOTREG)),
              caught.shown()[0].text);
}

// Mail objects that cannot be had: the allocation behind them fails.
HRESULT ThrowingCreator(IEmail**) { throw std::bad_alloc(); }

EmailCreator g_realCreator = nullptr;
HANDLE g_createNow = nullptr;
// The real object, once the test has changed the settings under the running thread.
HRESULT LateCreator(IEmail** email) {
    ::WaitForSingleObject(g_createNow, 10000);
    return g_realCreator(email);
}

TEST_F(OptionsPage, TestMessageThatThrowsEndsWithItsFailureAndSwitchesAdminAlertOff) {
    SetEmailCreator(ThrowingCreator);
    auto restore = scope_exit([] { SetEmailCreator(nullptr); });
    CaughtMessages caught;
    WithOptionsPage([&] {
        FillMailSettings("never built", port_);
        SendTestMessage();
        EXPECT_FALSE(Checked(IDC_ADMIN_ALERT));
        ExpectAdminAlertFieldsEnabled(false);
    });
    EXPECT_EQ(std::vector<std::string>{FormatMessageText(IDS_MAIL_OLE_FAILED, static_cast<unsigned long>(E_OUTOFMEMORY))},
              ShownTexts(caught));
}

TEST_F(OptionsPage, AlertThreadEndsQuietlyOnAnExceptionAndMailsTheSettingsItWasStartedWith) {
    AppSettings& settings = Settings();
    std::strcpy(settings.MailServer, "127.0.0.1");
    std::strcpy(settings.MailTo, "admin@example.com");
    std::strcpy(settings.AlertSubject, "alert never built");
    settings.MailServerPort = port_;
    g_realCreator = SetEmailCreator(ThrowingCreator);
    auto restore = scope_exit([] { SetEmailCreator(nullptr); });
    CaughtMessages caught;
    StartAdminAlertThread();
    ASSERT_TRUE(WaitForAlertThreads(10000)) << "the alert thread did not end";

    // An Options page save while the alert is on its way changes nothing of it.
    unique_handle createNow(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    g_createNow = createNow.get();
    SetEmailCreator(LateCreator);
    std::strcpy(settings.AlertSubject, "alert as started");
    StartAdminAlertThread();
    std::strcpy(settings.MailServer, "mail.invalid");
    std::strcpy(settings.MailTo, "someone@example.org");
    std::strcpy(settings.AlertSubject, "alert saved meanwhile");
    settings.MailServerPort = 1;
    ::SetEvent(createNow.get());
    ASSERT_TRUE(WaitForAlertThreads(20000)) << "the alert thread did not end";
    ReceivedMail mail = Received("alert as started");
    EXPECT_EQ(std::vector<std::string>{"admin@example.com"}, mail.to);
    EXPECT_TRUE(caught.shown().empty()) << "an alert shows nothing";
}

}  // namespace

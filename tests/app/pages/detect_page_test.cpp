// The main window as a user meets it: the sheet shown modally over the hidden frame on
// the test thread, driven from a second thread that clicks the page's buttons and reads
// its list, with specimens running as the trojans to find.
#include "app_test_support.h"
#include "engine/specimen_fixture.h"
#include "main_frame.h"
#include "plugin_module.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "shell_hooks.h"
#include "ui/message_box.h"
#include "update/update_client.h"

#include <commctrl.h>

#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

using namespace tolvane;
using namespace tolvane::test;

namespace {

class MainWindowTest : public SpecimenEngineTest {
protected:
    void SetUp() override {
        SpecimenEngineTest::SetUp();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        ASSERT_EQ(S_OK, privacyModule_.Call("DllRegisterServer"));
        Settings() = DefaultAppSettings();
        Settings().LoggingEnabled = 0;
        // The page is driven by hand here; the frame's own scan at start is the tray's.
        Settings().AutoScan = 0;
        detectionPending = -1;
    }
    void TearDown() override {
        frame_.reset();
        SetUpdateRunner(nullptr);
        scanModule_.Call("DllUnregisterServer");
        privacyModule_.Call("DllUnregisterServer");
        SpecimenEngineTest::TearDown();
    }
    void CreateFrame() {
        frame_ = std::make_unique<CMainFrame>();
        ASSERT_TRUE(frame_->Create());
    }

    // Shows the main window on this thread while `script` drives it from another; the
    // window is hidden after the script unless the script closed it.
    void WithMainWindow(const std::function<void()>& script) {
        DWORD uiThread = ::GetCurrentThreadId();
        std::thread driver([&] {
            sheet_ = WaitForThreadWindow(uiThread, "Tolvane v3.5", 10000);
            if (!sheet_) return ADD_FAILURE() << "the main window did not open";
            page_ = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
            script();
            if (::IsWindow(sheet_)) PressSheetButton(IDCANCEL);
        });
        frame_->ShowMainWindow();
        driver.join();
    }
    // Posted, as a real click is: the sheet's modal loop looks at its end only after a
    // posted message.
    void PressSheetButton(int id) {
        ::PostMessageA(sheet_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(sheet_, id)));
    }
    // Returns once the page has handled the click.
    void Click(int id) { ClickButton(page_, id); }
    void PostClick(int id) {
        ::PostMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(page_, id)));
    }
    static RECT WindowRectOf(HWND window) {
        RECT rect{};
        ::GetWindowRect(window, &rect);
        return rect;
    }
    // Into the screen's bottom right corner, clear of the control the user is to click.
    static void MoveClearOf(HWND window, HWND control) {
        RECT rect = WindowRectOf(window), button = WindowRectOf(control), overlap;
        ::SetWindowPos(window, nullptr, ::GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left),
                       ::GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top), 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        rect = WindowRectOf(window);
        EXPECT_FALSE(::IntersectRect(&overlap, &rect, &button));
    }
    // `modal` must block the main window: owned by it and keeping it disabled, so that the
    // user's click on `control` (beside `modal`, not under it) is dropped.
    void ClickUnder(HWND modal, HWND control) {
        EXPECT_EQ(sheet_, ::GetWindow(modal, GW_OWNER));
        EXPECT_FALSE(::IsWindowEnabled(sheet_)) << "the main window is live under it";
        MoveClearOf(modal, control);
        UserClick(control);
    }
    // What `find` finds within five seconds; null when nothing came.
    static HWND WaitFor(const std::function<HWND()>& find) {
        for (int i = 0; i < 100 && !find(); ++i) ::Sleep(50);
        return find();
    }
    bool Enabled(int id) { return ::IsWindowEnabled(::GetDlgItem(page_, id)) != FALSE; }
    // The list's rows, cells joined by "|".
    std::vector<std::string> ListedRows() {
        HWND list = ::GetDlgItem(page_, IDC_RESULT_LIST);
        std::vector<std::string> rows;
        int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        for (int row = 0; row < count; ++row) {
            std::string joined;
            for (int column = 0; column < 3; ++column) {
                char text[520] = {};
                LVITEMA item{};
                item.iSubItem = column;
                item.pszText = text;
                item.cchTextMax = sizeof text;
                ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
                joined += (column ? "|" : "") + std::string(text);
            }
            rows.push_back(joined);
        }
        return rows;
    }
    // The main window as drawn, into the build folder for review, when the run asks for it.
    void SaveScreenshot(const char* name) {
        const char* folder = std::getenv("TOLVANE_SCREENSHOTS");
        if (!folder) return;
        ::RedrawWindow(sheet_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        ::Sleep(300);
        RECT rect;
        ::GetWindowRect(sheet_, &rect);
        int width = rect.right - rect.left, height = rect.bottom - rect.top;
        HDC screen = ::GetDC(nullptr);
        HDC memory = ::CreateCompatibleDC(screen);
        unique_gdi bitmap(::CreateCompatibleBitmap(screen, width, height));
        HGDIOBJ previous = ::SelectObject(memory, bitmap.get());
        ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        ::SelectObject(memory, previous);
        BITMAPINFOHEADER info{sizeof info, width, height, 1, 24, BI_RGB};
        std::vector<std::uint8_t> pixels(((width * 3 + 3) & ~3) * height);
        ::GetDIBits(memory, static_cast<HBITMAP>(bitmap.get()), 0, height, pixels.data(),
                    reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
        ::DeleteDC(memory);
        ::ReleaseDC(nullptr, screen);
        BITMAPFILEHEADER file{0x4D42, DWORD(sizeof(BITMAPFILEHEADER) + sizeof info + pixels.size()), 0, 0,
                              DWORD(sizeof(BITMAPFILEHEADER) + sizeof info)};
        std::vector<std::uint8_t> bytes(sizeof file + sizeof info + pixels.size());
        std::memcpy(bytes.data(), &file, sizeof file);
        std::memcpy(bytes.data() + sizeof file, &info, sizeof info);
        std::memcpy(bytes.data() + sizeof file + sizeof info, pixels.data(), pixels.size());
        EXPECT_TRUE(WriteBytes(std::string(folder) + "\\" + name, bytes));
    }

    PluginModule scanModule_{"kwreng32.dll"};
    PluginModule privacyModule_{"hyseng32.dll"};
    std::unique_ptr<CMainFrame> frame_;
    HWND sheet_ = nullptr;
    HWND page_ = nullptr;
};

}  // namespace

TEST(ResultRow, SplitsAtTheFirstTwoSeparatorsAndKeepsTheRestInTheLastColumn) {
    using Parts = std::array<std::string, 3>;
    EXPECT_EQ((Parts{"NetBus", "C:\\a.exe", "TvNetBus"}), SplitResultRow("NetBus**KWR**C:\\a.exe**KWR**TvNetBus"));
    EXPECT_EQ((Parts{"SubSeven", "C:\\b.exe", "x**KWR**y"}), SplitResultRow("SubSeven**KWR**C:\\b.exe**KWR**x**KWR**y"));
    EXPECT_EQ((Parts{"Bo2k", "C:\\c.exe", ""}), SplitResultRow("Bo2k**KWR**C:\\c.exe"));
    EXPECT_EQ((Parts{"alone", "", ""}), SplitResultRow("alone"));
}

TEST(ResultRow, ARowLongerThanTheBufferIsCutNotEmptied) {
    std::string row = "NetBus**KWR**C:\\" + std::string(600, 'a') + "**KWR**TvNetBus";
    std::wstring wide(row.begin(), row.end());
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(nullptr, array);
    LONG index = 0;
    unique_bstr text(::SysAllocString(wide.c_str())), shortText(::SysAllocString(L"Bo2k**KWR**C:\\b.exe**KWR**x"));
    ASSERT_EQ(S_OK, ::SafeArrayPutElement(array, &index, text.get()));
    index = 1;
    ASSERT_EQ(S_OK, ::SafeArrayPutElement(array, &index, shortText.get()));
    VARIANT list;
    V_VT(&list) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&list) = array;
    std::vector<std::string> rows = ResultRows(list);
    ::VariantClear(&list);
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ(row.substr(0, 519), rows[0]);
    std::array<std::string, 3> parts = SplitResultRow(rows[0]);
    EXPECT_EQ("NetBus", parts[0]);
    EXPECT_EQ(row.substr(13, 519 - 13), parts[1]) << "the path is cut, the rest of the row lost";
    EXPECT_EQ("Bo2k**KWR**C:\\b.exe**KWR**x", rows[1]);
}

TEST_F(MainWindowTest, DetectListsTheRunningSpecimenAndRemoveQuarantinesIt) {
    std::string path = Place("netbus_350000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus", path + " /nomsg"));
    Start(path);
    CaughtMessages caught;
    CreateFrame();
    EXPECT_EQ(nullptr, frame_->PrivacyEngine()) << "psigs.kws is missing and no download is available";
    EXPECT_EQ(3u, frame_->Sheet()->PageCount()) << "Detect/Remove, Options and Program Status";

    WithMainWindow([&] {
        EXPECT_TRUE(Enabled(IDC_DETECT));
        EXPECT_FALSE(Enabled(IDC_REMOVE));
        EXPECT_FALSE(Enabled(IDC_RESULT_LIST));
        char text[32] = {};
        ::GetDlgItemTextA(sheet_, IDOK, text, sizeof text);
        EXPECT_STREQ("Quit", text);
        ::GetDlgItemTextA(sheet_, IDCANCEL, text, sizeof text);
        EXPECT_STREQ("Hide Window", text);

        Click(IDC_DETECT);
        EXPECT_EQ(std::vector<std::string>{"NetBus|" + path + "|TvNetBus"}, ListedRows());
        SaveScreenshot("detect_remove_page.bmp");
        EXPECT_FALSE(Enabled(IDC_DETECT));
        EXPECT_TRUE(Enabled(IDC_REMOVE));
        EXPECT_TRUE(Enabled(IDC_RESULT_LIST));
        EXPECT_TRUE(Enabled(IDC_FOUND_LABEL));
        EXPECT_TRUE(caught.shown().empty()) << caught.shown()[0].text;

        Click(IDC_REMOVE);
        EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_REMOVAL_SUCCEEDED)}, ShownTexts(caught));
        EXPECT_TRUE(ListedRows().empty());
        EXPECT_TRUE(Enabled(IDC_DETECT));
        EXPECT_FALSE(Enabled(IDC_REMOVE));
        EXPECT_FALSE(Enabled(IDC_RESULT_LIST));
    });
    EXPECT_FALSE(frame_->QuitRequested()) << "Hide Window returns to the tray";
    EXPECT_TRUE(Ended(0));
    ExpectQuarantined("netbus_350000.exe.KWR", path);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus"));
}

TEST_F(MainWindowTest, DetectFindingNothingSaysSoInSilentModeAndQuitEndsTheProgram) {
    Settings().SilentMode = 1;
    CaughtMessages caught;
    CreateFrame();
    WithMainWindow([&] {
        Click(IDC_DETECT);
        EXPECT_EQ(std::vector<std::string>{"No trojans were detected on your system."}, ShownTexts(caught));
        EXPECT_TRUE(ListedRows().empty());
        EXPECT_TRUE(Enabled(IDC_DETECT));
        EXPECT_FALSE(Enabled(IDC_REMOVE));
        PressSheetButton(IDOK);
    });
    EXPECT_TRUE(frame_->QuitRequested());
}

TEST_F(MainWindowTest, MessageBoxesBlockTheMainWindowSoASecondDetectWaitsForThem) {
    CreateFrame();
    {
        CaughtMessages caught;
        WithMainWindow([&] {
            Click(IDC_DETECT);
            ASSERT_EQ(1u, caught.shown().size());
            EXPECT_EQ(sheet_, caught.shown()[0].owner) << "the box is owned by the main window";
        });
    }
    // The real box, and the user's second click on "Detect" while it is up.
    DWORD uiThread = ::GetCurrentThreadId();
    auto boxes = [&] { return ThreadDialogs(uiThread, "Tolvane"); };
    auto waitForBox = [&] { return WaitFor([&] { return boxes().empty() ? nullptr : boxes()[0]; }); };
    auto dismissAll = [&] {
        for (int i = 0; i < 100 && !boxes().empty(); ++i) {
            for (HWND box : boxes()) ::PostMessageA(box, WM_COMMAND, IDOK, 0);
            ::Sleep(100);
        }
    };
    WithMainWindow([&] {
        HWND detect = ::GetDlgItem(page_, IDC_DETECT);
        PostClick(IDC_DETECT);
        HWND box = waitForBox();
        ASSERT_NE(nullptr, box) << "no message box";
        ClickUnder(box, detect);
        // A Detect that got through scans for about two seconds before its own box.
        for (int i = 0; i < 120 && boxes().size() < 2; ++i) ::Sleep(50);
        EXPECT_EQ(1u, boxes().size()) << "a second Detect ran inside the box's message loop";
        dismissAll();
        ASSERT_TRUE(boxes().empty());
        EXPECT_TRUE(::IsWindowEnabled(sheet_));

        // The same click reaches the button once the box has gone.
        UserClick(detect);
        EXPECT_NE(nullptr, waitForBox()) << "the user's click did not reach \"Detect\"";
        dismissAll();
    });
}

namespace {
int g_updateRuns = 0;
// What the program's runner does, against a server that takes the request and never
// answers, so that the run lasts until its wait for the server ends.
bool RunUpdateAgainstSilentServer(const char* localDate) {
    ++g_updateRuns;
    EngineVersion version = InstalledEngineVersion();
    bool staged = false;
    UpdateTarget target{ModalOwner(), Settings().UpdateOptions, version, staged, 1500};
    return RunUpdate(localDate, target) != kUpdateFailed;
}
}  // namespace

TEST_F(MainWindowTest, UpdateProgressBlocksTheMainWindowSoOnlyOneRunExists) {
    WSADATA data;
    ASSERT_EQ(0, ::WSAStartup(MAKEWORD(1, 1), &data));
    auto cleanup = scope_exit([] { ::WSACleanup(); });
    unique_socket server(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int length = sizeof address;
    ASSERT_EQ(0, ::bind(server.get(), reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, ::listen(server.get(), 5));
    ASSERT_EQ(0, ::getsockname(server.get(), reinterpret_cast<sockaddr*>(&address), &length));
    std::snprintf(Settings().UpdateOptions.FTPServer, sizeof Settings().UpdateOptions.FTPServer,
                  "http://127.0.0.1:%u", ::ntohs(address.sin_port));
    std::strcpy(Settings().UpdateOptions.Path, "/Updates/");
    g_updateRuns = 0;
    SetUpdateRunner(RunUpdateAgainstSilentServer);
    CaughtMessages caught;
    CreateFrame();
    DWORD uiThread = ::GetCurrentThreadId();
    auto progressWindow = [&]() -> HWND {
        for (HWND window : ThreadDialogs(uiThread))
            if (::GetDlgItem(window, IDC_UPDATE_PROGRESS)) return window;
        return nullptr;
    };
    auto waitForRun = [&] { return WaitFor(progressWindow); };
    auto waitForEnd = [&] {
        for (int i = 0; i < 200 && progressWindow(); ++i) ::Sleep(50);
        return !progressWindow();
    };
    WithMainWindow([&] {
        ::SendMessageA(sheet_, PSM_SETCURSEL, frame_->Sheet()->PageCount() - 1, 0);
        page_ = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
        HWND check = ::GetDlgItem(page_, IDC_CHECK_DEFINITIONS);
        PostClick(IDC_CHECK_DEFINITIONS);
        HWND progress = waitForRun();
        ASSERT_NE(nullptr, progress) << "no progress window";
        ClickUnder(progress, check);
        ::Sleep(500);
        EXPECT_EQ(1, g_updateRuns) << "a second run started over the first";
        ASSERT_TRUE(waitForEnd());
        EXPECT_TRUE(::IsWindowEnabled(sheet_));

        // The same click reaches the button once the run is over.
        UserClick(check);
        EXPECT_NE(nullptr, waitForRun()) << "the user's click did not reach the button";
        EXPECT_TRUE(waitForEnd());
    });
    for (int i = 0; i < 40 && ::IsWindow(sheet_); ++i) ::Sleep(50);
    EXPECT_EQ(2, g_updateRuns);
    for (const ShownMessage& shown : caught.shown()) {
        // The run's outcome on this thread blocks the window; the worker's own message
        // about the server stays ownerless.
        if (shown.text == LoadMessage(IDS_UPDATE_FAILED)) EXPECT_EQ(sheet_, shown.owner);
        else EXPECT_EQ(nullptr, shown.owner) << shown.text;
    }
    std::vector<std::string> texts = ShownTexts(caught);
    EXPECT_EQ(2, std::count(texts.begin(), texts.end(), LoadMessage(IDS_UPDATE_FAILED)));
}

namespace {
bool CountUpdateRun(const char*) { return ++g_updateRuns, true; }
}  // namespace

TEST_F(MainWindowTest, AButtonThePointerRestedOnTakesNoClickOnceItsPageIsHidden) {
    CaughtMessages caught;
    CreateFrame();
    g_updateRuns = 0;
    // Only now, so that the missing privacy signatures are not offered for download.
    SetUpdateRunner(CountUpdateRun);
    WithMainWindow([&] {
        HWND detect = ::GetDlgItem(page_, IDC_DETECT);
        // "Detect" looks hot, and holds the mouse for it, while the pointer rests on it.
        PointAt(detect);
        ::Sleep(300);
        ::SendMessageA(sheet_, PSM_SETCURSEL, frame_->Sheet()->PageCount() - 1, 0);
        page_ = reinterpret_cast<HWND>(::SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
        HWND check = ::GetDlgItem(page_, IDC_CHECK_DEFINITIONS);
        RECT detectRect = WindowRectOf(detect), checkRect = WindowRectOf(check);
        POINT centre{(checkRect.left + checkRect.right) / 2, (checkRect.top + checkRect.bottom) / 2};
        ASSERT_TRUE(::PtInRect(&detectRect, centre)) << "the two buttons no longer share a place";
        UserClick(check);
        for (int i = 0; i < 100 && g_updateRuns == 0; ++i) ::Sleep(50);
    });
    EXPECT_EQ(1, g_updateRuns) << "the click did not reach \"Check for new definitions\"";
    EXPECT_TRUE(caught.shown().empty()) << "the hidden \"Detect\" took it: " << caught.shown()[0].text;
}

TEST_F(MainWindowTest, EngineFailureShowsItsMessageAndLeavesThePageIdle) {
    ASSERT_TRUE(::DeleteFileA((folder_ + "\\tsigs.kws").c_str()));
    CaughtMessages caught;
    CreateFrame();
    WithMainWindow([&] {
        Click(IDC_DETECT);
        ASSERT_EQ(1u, caught.shown().size());
        EXPECT_EQ(LoadMessage(IDS_SIGNATURE_MISSING), caught.shown()[0].text);
        EXPECT_EQ(UINT{MB_OK | MB_ICONEXCLAMATION}, caught.shown()[0].type) << "no download offered here";
        EXPECT_TRUE(Enabled(IDC_DETECT));
        EXPECT_FALSE(Enabled(IDC_REMOVE));
    });
}

TEST_F(MainWindowTest, PendingResultsOfAnAutomaticScanAreListedAndClosedWhenTheWindowCloses) {
    std::string path = Place("netbus_350000.exe");
    Start(path);
    CaughtMessages caught;
    CreateFrame();
    IScanEngine* engine = frame_->ScanEngine();
    long found = 0;
    ASSERT_EQ(S_OK, engine->Init(0, 1));
    ASSERT_EQ(S_OK, engine->DetectOrx(&found));
    ASSERT_EQ(1, found);
    detectionPending = 1;
    WithMainWindow([&] {
        EXPECT_EQ(std::vector<std::string>{"NetBus|" + path + "|"}, ListedRows());
        EXPECT_FALSE(Enabled(IDC_DETECT));
        EXPECT_TRUE(Enabled(IDC_REMOVE));
        ::PostMessageA(sheet_, WM_CLOSE, 0, 0);
    });
    EXPECT_FALSE(frame_->QuitRequested()) << "the close box hides the window";
    EXPECT_EQ(-1, detectionPending);
    VARIANT list;
    ::VariantInit(&list);
    EXPECT_EQ(E_FAIL, engine->get_ProcessList(&list)) << "the engine run was closed with the window";
    ::VariantClear(&list);
    EXPECT_FALSE(Ended(0)) << "closing removes nothing";
}

namespace {
std::vector<std::string> g_updateDates;
std::string g_psigsSource;
bool FetchPrivacySignatures(const char* localDate) {
    g_updateDates.push_back(localDate);
    return ::CopyFileA(g_psigsSource.c_str(), "psigs.kws", FALSE) != FALSE;
}
}  // namespace

TEST_F(MainWindowTest, PrivacySignaturesAreOfferedForDownloadAndTheEngineKeptAfterIt) {
    g_updateDates.clear();
    g_psigsSource = ModuleDirectory() + "\\signatures\\psigs.kws";
    SetUpdateRunner(FetchPrivacySignatures);
    unique_hkey engineKey;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEngineKey.c_str(), 0, KEY_ALL_ACCESS, engineKey.put()));
    ::RegDeleteValueA(engineKey.get(), "VirusDefsDate");
    CaughtMessages caught(IDYES);
    CreateFrame();
    ASSERT_EQ(1u, caught.shown().size());
    EXPECT_EQ(LoadMessage(IDS_SIGNATURE_MISSING), caught.shown()[0].text);
    EXPECT_EQ(UINT{MB_YESNO | MB_ICONEXCLAMATION}, caught.shown()[0].type);
    EXPECT_EQ(std::vector<std::string>{""}, g_updateDates) << "no definitions date stored yet";
    EXPECT_NE(nullptr, frame_->PrivacyEngine());
}

namespace {
// The real run keeps the program's messages flowing while it downloads; a close that
// comes meanwhile is dispatched inside the frame's creation.
bool CloseDuringDownload(const char* localDate) {
    ::PostMessageA(::FindWindowA(kMainFrameClass, nullptr), WM_CLOSE, 0, 0);
    PumpUntil([] { return false; }, 200);
    return FetchPrivacySignatures(localDate);
}
}  // namespace

TEST_F(MainWindowTest, CloseDuringTheStartUpDownloadIsCarriedOutOnceTheFrameIsCreated) {
    g_updateDates.clear();
    g_psigsSource = ModuleDirectory() + "\\signatures\\psigs.kws";
    SetUpdateRunner(CloseDuringDownload);
    CaughtMessages caught(IDYES);
    CreateFrame();
    EXPECT_EQ(1u, g_updateDates.size()) << "the download ran";
    EXPECT_NE(nullptr, frame_->PrivacyEngine()) << "the engine the creation went on with is kept";
    HWND frame = frame_->Handle();
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(frame); }, 5000)) << "the close was lost";
}

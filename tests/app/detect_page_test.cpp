// The main window as a user meets it: the sheet shown modally over the hidden frame on
// the test thread, driven from a second thread that clicks the page's buttons and reads
// its list, with specimens running as the trojans to find.
#include "app_globals.h"
#include "app_test_support.h"
#include "main_frame.h"
#include "message_box.h"
#include "plugin_module.h"
#include "resource.h"
#include "shell_hooks.h"
#include "engine/specimen_fixture.h"

#include <commctrl.h>

#include <cstdlib>
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
    void Click(int id) {
        ::SendMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(page_, id)));
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

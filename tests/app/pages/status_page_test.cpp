// The status page inside the main window: the stored definitions date, the quarantine
// folder's files, and restore and delete answered through the "Are you sure?" dialog,
// driven from a second thread while the sheet runs modally on the test thread.
#include "app_test_support.h"
#include "maintenance/quarantine_manager.h"
#include "pages/my_property_sheet.h"
#include "quarantine_format.h"
#include "registry_support.h"
#include "resource.h"
#include "shell_hooks.h"
#include "test_support.h"
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <thread>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::uint8_t> QuarantineBytes(const std::string& formerPath, std::string content) {
    QuarantineHeader header = MakeQuarantineHeader(formerPath);
    std::vector<std::uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    std::vector<std::uint8_t> scrambled(content.begin(), content.end());
    ScrambleQuarantineBytes(scrambled.data(), scrambled.size());
    bytes.insert(bytes.end(), scrambled.begin(), scrambled.end());
    return bytes;
}

std::string g_updateDate = "<not run>";
bool RecordUpdate(const char* localDate) {
    g_updateDate = localDate;
    return true;
}

class StatusPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\3.5", "Path", install_ / "Tolvane.exe"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, std::string(kProductKey) + "\\Engine", "VirusDefsDate", "06/21/2000"));
        ASSERT_TRUE(::CreateDirectoryA(folder_.c_str(), nullptr));
    }
    void TearDown() override { SetUpdateRunner(nullptr); }

    std::string Quarantine(const std::string& name, const std::string& content) {
        std::string path = folder_ + "\\" + name + ".KWR";
        EXPECT_TRUE(WriteBytes(path, QuarantineBytes(install_ / name, content)));
        return path;
    }

    // Shows the main window on this thread, on the status page, while `script` drives it.
    void WithStatusPage(const std::function<void()>& script) {
        CMyPropertySheet sheet(nullptr, nullptr, IDS_CAPTION);
        uiThread_ = ::GetCurrentThreadId();
        std::thread driver([&] {
            HWND window = WaitForThreadWindow(uiThread_, "Tolvane v3.5");
            if (!window) return ADD_FAILURE() << "the main window did not open";
            ::SendMessageA(window, PSM_SETCURSEL, sheet.PageCount() - 1, 0);
            page_ = reinterpret_cast<HWND>(::SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0));
            script();
            ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(window, IDCANCEL)));
        });
        sheet.DoModal(nullptr);
        driver.join();
    }

    std::string Text(int id) {
        char text[128] = {};
        ::GetDlgItemTextA(page_, id, text, sizeof text);
        return text;
    }
    std::vector<std::string> Listed() {
        HWND list = ::GetDlgItem(page_, IDC_QUARANTINE_LIST);
        std::vector<std::string> names;
        int count = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char name[MAX_PATH] = {};
            ::SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(name));
            names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    void Select(const std::string& name) {
        HWND list = ::GetDlgItem(page_, IDC_QUARANTINE_LIST);
        LRESULT index = ::SendMessageA(list, LB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(name.c_str()));
        ASSERT_NE(LB_ERR, index) << name;
        ::SendMessageA(list, LB_SETSEL, TRUE, index);
    }
    // Returns once the page has handled the click.
    void Click(int id) { ClickButton(page_, id); }
    // Posted, as a real click is, for a click that opens the question: a sent one would
    // hold this thread until the question is answered.
    void ClickToAsk(int id) {
        ::PostMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(page_, id)));
    }
    // Returns once the user-interface thread is back in a message loop: after a question,
    // the sheet's, as nothing else the page runs waits for messages.
    void Settle() { ::SendMessageA(page_, WM_NULL, 0, 0); }
    // Answers the question the page asks; returns its text.
    std::string Answer(int button, bool dontAskAgain) {
        HWND dialog = WaitForThreadWindow(uiThread_, "Are you sure?");
        if (!dialog) {
            ADD_FAILURE() << "no question was asked";
            return {};
        }
        char question[512] = {};
        ::GetDlgItemTextA(dialog, IDC_CONFIRM_TEXT, question, sizeof question);
        if (dontAskAgain) {
            ::SendDlgItemMessageA(dialog, IDC_DONT_ASK, BM_SETCHECK, BST_CHECKED, 0);
            ClickButton(dialog, IDC_DONT_ASK);
        }
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, button)));
        for (int i = 0; i < 100 && ::IsWindow(dialog); ++i) ::Sleep(50);
        Settle();
        return question;
    }

    ScopedProductKey key_;
    TempDir install_;
    std::string folder_ = install_ / "Infected Files";
    DWORD uiThread_ = 0;
    HWND page_ = nullptr;
};

TEST_F(StatusPageTest, ShowsTheStoredDateAndTheQuarantinedFilesAndUpdatesFromThatDate) {
    Quarantine("first.exe", "one");
    Quarantine("second.exe", "two");
    ASSERT_TRUE(::CreateDirectoryA((folder_ + "\\not a file").c_str(), nullptr));
    SetUpdateRunner(RecordUpdate);
    g_updateDate = "<not run>";
    WithStatusPage([&] {
        EXPECT_EQ("06/21/2000", Text(IDC_DEFINITIONS_DATE));
        EXPECT_EQ((std::vector<std::string>{"first.exe.KWR", "second.exe.KWR"}), Listed());
        Click(IDC_CHECK_DEFINITIONS);
    });
    EXPECT_EQ("06/21/2000", g_updateDate);
}

// The pop-up opened by a right click over a file names where that file came from.
TEST_F(StatusPageTest, RightClickOverAFileShowsItsFormerPath) {
    Quarantine("first.exe", "one");
    std::string menuText = "<no menu>";
    WithStatusPage([&] {
        HWND list = ::GetDlgItem(page_, IDC_QUARANTINE_LIST);
        RECT item{};
        ::SendMessageA(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item));
        POINT pointer{item.left + 5, (item.top + item.bottom) / 2};
        ::ClientToScreen(list, &pointer);
        ::PostMessageA(page_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(pointer.x, pointer.y));
        HWND menuWindow = nullptr;
        for (int i = 0; i < 100 && !menuWindow; ++i) {
            menuWindow = ::FindWindowA("#32768", nullptr);
            if (!menuWindow || !::IsWindowVisible(menuWindow)) menuWindow = nullptr, ::Sleep(50);
        }
        ASSERT_NE(nullptr, menuWindow) << "no pop-up menu";
        HMENU menu = reinterpret_cast<HMENU>(::SendMessageA(menuWindow, MN_GETHMENU, 0, 0));
        char text[MAX_PATH] = {};
        if (menu) ::GetMenuStringA(menu, 0, text, sizeof text, MF_BYPOSITION);
        menuText = text;
        ::PostMessageA(menuWindow, WM_KEYDOWN, VK_ESCAPE, 0);
        for (int i = 0; i < 100 && ::IsWindowVisible(menuWindow); ++i) ::Sleep(50);
        Settle();
    });
    EXPECT_EQ(install_ / "first.exe", menuText);
}

TEST_F(StatusPageTest, RestoreAsksUntilToldNotToAndPutsTheFileBackWhereItCameFrom) {
    std::string first = Quarantine("first.exe", "first content");
    std::string second = Quarantine("second.exe", "second content");
    CaughtMessages caught;
    WithStatusPage([&] {
        Select("first.exe.KWR");
        ClickToAsk(IDC_RESTORE);
        EXPECT_EQ(LoadMessage(IDS_CONFIRM_RESTORE), Answer(IDCANCEL, true));
        EXPECT_TRUE(FileExists(first)) << "Cancel restores nothing";
        EXPECT_FALSE(FileExists(install_ / "first.exe"));
        EXPECT_TRUE(caught.shown().empty());
        DWORD type = 0;
        std::vector<unsigned char> stored;
        ASSERT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, kProductKey, "ConfirmRestore", type, stored));
        EXPECT_EQ(DWORD{REG_BINARY}, type);
        EXPECT_EQ((std::vector<unsigned char>{0, 0, 0, 0}), stored);

        Select("first.exe.KWR");
        Click(IDC_RESTORE);
        EXPECT_EQ(nullptr, ::FindWindowA(nullptr, "Are you sure?"));
        EXPECT_EQ("first content", ReadText(install_ / "first.exe"));
        EXPECT_FALSE(FileExists(first));
        EXPECT_EQ(std::vector<std::string>{"second.exe.KWR"}, Listed());
        EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_FILES_RESTORED)}, ShownTexts(caught));
    });
    EXPECT_TRUE(FileExists(second));
}

TEST_F(StatusPageTest, DeleteRemovesTheSelectedFilesOnceConfirmedAndNothingWithoutSelection) {
    std::string first = Quarantine("first.exe", "1");
    std::string second = Quarantine("second.exe", "2");
    std::string third = Quarantine("third.exe", "3");
    CaughtMessages caught;
    WithStatusPage([&] {
        Click(IDC_DELETE);
        EXPECT_EQ(nullptr, ::FindWindowA(nullptr, "Are you sure?")) << "nothing selected, nothing asked";
        EXPECT_TRUE(caught.shown().empty());

        Select("first.exe.KWR");
        Select("third.exe.KWR");
        ClickToAsk(IDC_DELETE);
        EXPECT_EQ(LoadMessage(IDS_CONFIRM_DELETE), Answer(IDOK, false));
        EXPECT_EQ(std::vector<std::string>{"second.exe.KWR"}, Listed());
        EXPECT_EQ(std::vector<std::string>{LoadMessage(IDS_FILES_DELETED)}, ShownTexts(caught));
    });
    EXPECT_FALSE(FileExists(first));
    EXPECT_TRUE(FileExists(second));
    EXPECT_FALSE(FileExists(third));
    DWORD type = 0;
    std::vector<unsigned char> stored;
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, kProductKey, "ConfirmDelete", type, stored))
        << "only the box switches the question off";
}

}  // namespace

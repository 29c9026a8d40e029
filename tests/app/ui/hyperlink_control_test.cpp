#include "ui/hyperlink_control.h"

#include "app_test_support.h"
#include "registry_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shellapi.h>

namespace tolvane {
namespace {

constexpr char kAddress[] = "http://www.example.com/";

struct FakeShell {
    std::string opened, ran;
    UINT_PTR openResult = 42, runResult = 42;
} g_fake;

UINT_PTR FakeOpen(const std::string& address, int) {
    g_fake.opened = address;
    return g_fake.openResult;
}
UINT_PTR FakeRun(const std::string& command, int) {
    g_fake.ran = command;
    return g_fake.runResult;
}

class HyperLink : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = FakeShell{};
        previous_ = SetLinkShell({FakeOpen, FakeRun});
        parent_ = ::CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr, nullptr,
                                  nullptr, nullptr);
        ASSERT_NE(nullptr, parent_) << ::GetLastError();
    }
    void TearDown() override {
        ::DestroyWindow(parent_);
        SetLinkShell(previous_);
    }
    HWND Static(const char* text, DWORD style) {
        HWND control = ::CreateWindowA("STATIC", text, WS_CHILD | WS_VISIBLE | style, 100, 50, 250, 60, parent_,
                                       reinterpret_cast<HMENU>(100), nullptr, nullptr);
        ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
        return control;
    }
    RECT Box(HWND control) {
        RECT box;
        ::GetWindowRect(control, &box);
        ::MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&box), 2);
        return box;
    }
    // The colour the link asks its parent to draw it in, as the static control would.
    COLORREF Colour(HWND control) {
        HDC dc = ::GetDC(control);
        LRESULT brush = ::SendMessageA(parent_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                       reinterpret_cast<LPARAM>(control));
        COLORREF colour = ::GetTextColor(dc);
        EXPECT_EQ(reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH)), brush);
        EXPECT_EQ(TRANSPARENT, ::GetBkMode(dc));
        ::ReleaseDC(control, dc);
        return colour;
    }

    HWND parent_ = nullptr;
    LinkShell previous_{};
};

TEST_F(HyperLink, AttachedStaticIsUnderlinedFittedToItsTextAndTipsItsAddress) {
    HWND control = Static(kAddress, SS_LEFT);
    HyperLinkControl link;
    ASSERT_TRUE(link.Attach(control));
    EXPECT_EQ(kAddress, link.Address());
    EXPECT_TRUE(::GetWindowLongA(control, GWL_STYLE) & SS_NOTIFY);

    LOGFONTA face{};
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)), sizeof face, &face);
    EXPECT_TRUE(face.lfUnderline);
    HDC dc = ::GetDC(control);
    ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, kAddress, sizeof kAddress - 1, &extent);
    ::ReleaseDC(control, dc);
    RECT box = Box(control);
    EXPECT_EQ(100, box.left);
    EXPECT_EQ(50, box.top);
    EXPECT_EQ(extent.cx, box.right - box.left);
    EXPECT_EQ(extent.cy, box.bottom - box.top);

    char tip[100] = "";
    TOOLINFOA tool{sizeof tool, 0, control, 1};
    tool.lpszText = tip;
    ::SendMessageA(link.Tooltip(), TTM_GETTEXTA, sizeof tip, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(kAddress, tip);

    // An empty right-aligned static shows the address it was given and keeps its right edge.
    HWND mail = Static("", SS_RIGHT);
    HyperLinkControl mailLink;
    mailLink.SetAddress("mailto:support@example.com");
    ASSERT_TRUE(mailLink.Attach(mail));
    char text[100] = "";
    ::GetWindowTextA(mail, text, sizeof text);
    EXPECT_STREQ("mailto:support@example.com", text);
    EXPECT_EQ(350, Box(mail).right);
}

TEST_F(HyperLink, PointerOverTheLinkHighlightsItAndHoldsTheMouseUntilItLeaves) {
    HWND control = Static(kAddress, SS_LEFT);
    HyperLinkControl link;
    ASSERT_TRUE(link.Attach(control));
    EXPECT_EQ(RGB(0, 0, 238), Colour(control));

    ::SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(control, ::GetCapture());
    EXPECT_EQ(::GetSysColor(COLOR_HIGHLIGHT), Colour(control));

    ::SendMessageA(control, WM_MOUSEMOVE, 0, MAKELPARAM(-5, -5));
    EXPECT_EQ(nullptr, ::GetCapture());
    EXPECT_EQ(RGB(0, 0, 238), Colour(control));
}

TEST_F(HyperLink, ClickOpensTheAddressAndTurnsTheLinkVisited) {
    HWND control = Static(kAddress, SS_LEFT);
    HyperLinkControl link;
    ASSERT_TRUE(link.Attach(control));
    test::CaughtMessages messages;
    ::SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::SendMessageA(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(kAddress, g_fake.opened);
    EXPECT_EQ("", g_fake.ran);
    EXPECT_TRUE(link.Visited());
    EXPECT_EQ(RGB(85, 26, 139), Colour(control));
    EXPECT_TRUE(messages.shown().empty());
}

TEST_F(HyperLink, FailedShellOpenStartsTheHtmBrowserAndReportsItsError) {
    test::ScopedKeyValues htm(HKEY_CLASSES_ROOT, ".htm", true);
    ASSERT_TRUE(test::SetString(HKEY_CLASSES_ROOT, ".htm", nullptr, "TolvaneTestPage"));
    ASSERT_TRUE(test::SetString(HKEY_CLASSES_ROOT, "TolvaneTestPage\\shell\\open\\command", nullptr,
                                "\"C:\\Browser\\browse.exe\" -new \"%1\" -x"));
    HWND control = Static(kAddress, SS_LEFT);
    HyperLinkControl link;
    ASSERT_TRUE(link.Attach(control));
    test::CaughtMessages messages;
    g_fake.openResult = SE_ERR_FNF;
    g_fake.runResult = SE_ERR_SHARE;
    ::SendMessageA(parent_, WM_COMMAND, MAKEWPARAM(100, STN_CLICKED), reinterpret_cast<LPARAM>(control));
    test::DeleteTree(HKEY_CLASSES_ROOT, "TolvaneTestPage");

    EXPECT_EQ("\"C:\\Browser\\browse.exe\" -new  http://www.example.com/", g_fake.ran);
    EXPECT_FALSE(link.Visited());
    ASSERT_EQ(1u, messages.shown().size());
    EXPECT_EQ("Unable to open hyperlink:\n\nA sharing violation occurred. ", messages.shown()[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), messages.shown()[0].type);

    // Without the association the shell's own code is reported.
    g_fake.ran.clear();
    test::DeleteTree(HKEY_CLASSES_ROOT, ".htm");
    EXPECT_EQ(static_cast<UINT_PTR>(SE_ERR_FNF), OpenHyperLink(kAddress, SW_SHOW));
    EXPECT_EQ("", g_fake.ran);
}

TEST(HyperLinkText, CommandIsCutAtItsPlaceholderAndUnknownCodesAreNamed) {
    EXPECT_EQ("browse.exe  x", BrowserCommand("browse.exe \"%1\"", "x"));
    EXPECT_EQ("browse.exe -url  x", BrowserCommand("browse.exe -url %1 -tail", "x"));
    EXPECT_EQ("browse.exe x", BrowserCommand("browse.exe", "x"));
    EXPECT_EQ("Unknown Error (99) occurred.", HyperLinkErrorText(99));
}

}  // namespace
}  // namespace tolvane

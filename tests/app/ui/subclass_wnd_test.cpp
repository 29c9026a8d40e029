#include "ui/subclass_wnd.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tolvane {
namespace {

std::string g_seen;  // who saw a message, in order: "B A w" for hook B, hook A, the window

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) g_seen += "w";
    if (message == WM_NCDESTROY) g_seen += "last";
    return ::DefWindowProcA(window, message, wParam, lParam);
}

class NamedHook : public CSubclassWnd {
public:
    explicit NamedHook(const char* name) : name_(name) {}

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_USER || message == WM_NCDESTROY) g_seen += name_;
        return CSubclassWnd::HandleMessage(message, wParam, lParam);
    }

private:
    const char* name_;
};

class SubclassWnd : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA type{};
        type.lpfnWndProc = WindowProcedure;
        type.lpszClassName = "TolvaneHookTest";
        ::RegisterClassA(&type);
        window_ = ::CreateWindowA("TolvaneHookTest", "", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, window_) << ::GetLastError();
        original_ = ::GetWindowLongPtrA(window_, GWLP_WNDPROC);
    }
    void TearDown() override {
        if (::IsWindow(window_)) ::DestroyWindow(window_);
    }
    std::string Send() {
        g_seen.clear();
        ::SendMessageA(window_, WM_USER, 0, 0);
        return g_seen;
    }

    HWND window_ = nullptr;
    LONG_PTR original_ = 0;
};

TEST_F(SubclassWnd, NewestHookFirstAndTheOlderLeavingFirstKeepsTheNewerInPlace) {
    auto older = std::make_unique<NamedHook>("A");
    NamedHook newer("B");
    ASSERT_TRUE(older->HookWindow(window_));
    ASSERT_TRUE(newer.HookWindow(window_));
    EXPECT_EQ("BAw", Send());

    older.reset();  // a hook object that goes away leaves the chain
    EXPECT_EQ("Bw", Send());
    EXPECT_NE(original_, ::GetWindowLongPtrA(window_, GWLP_WNDPROC));

    newer.HookWindow(nullptr);
    EXPECT_EQ("w", Send());
    EXPECT_EQ(original_, ::GetWindowLongPtrA(window_, GWLP_WNDPROC));
    EXPECT_EQ(nullptr, newer.Window());
}

TEST_F(SubclassWnd, DestroyedWindowReleasesEveryHookAndItsOwnProcedureGetsTheLastMessage) {
    NamedHook older("A"), newer("B");
    ASSERT_TRUE(older.HookWindow(window_));
    ASSERT_TRUE(newer.HookWindow(window_));
    g_seen.clear();
    ::DestroyWindow(window_);
    EXPECT_EQ("last", g_seen);
    EXPECT_EQ(nullptr, older.Window());
    EXPECT_EQ(nullptr, newer.Window());

    // The same objects hook a new window from scratch.
    SetUp();
    ASSERT_TRUE(newer.HookWindow(window_));
    EXPECT_EQ("Bw", Send());
}

}  // namespace
}  // namespace tolvane

// Seeing the messages of a window that some other code owns: each hook chains itself in
// front of the window's procedure, newest first, and passes on what it does not handle.
// Any number of hooks may share one window and leave it in any order.
#pragma once

#include <windows.h>

namespace tolvane {

class CSubclassWnd {
public:
    CSubclassWnd() = default;
    virtual ~CSubclassWnd() { HookWindow(nullptr); }
    CSubclassWnd(const CSubclassWnd&) = delete;
    CSubclassWnd& operator=(const CSubclassWnd&) = delete;

    // Hooks `window` (leaving any window hooked before), or only unhooks when given none.
    // False when the window's procedure cannot be replaced, as for another process's window.
    bool HookWindow(HWND window);
    HWND Window() const { return window_; }

    // The message being handled on this thread, for what wants it whole (a tooltip's relay).
    static const MSG* CurrentMessage();

protected:
    // Passes the message to the next older hook, or at the end of the chain to the
    // window's own procedure; overrides call it for what they leave alone.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK HookProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    WNDPROC previous_ = nullptr;  // the window's procedure before its first hook
    CSubclassWnd* next_ = nullptr;
};

// A hook that hands every message to a member function of its owner, which passes on
// what it leaves alone through PassOn.
template <typename Owner>
class CMemberHook : public CSubclassWnd {
public:
    using Handler = LRESULT (Owner::*)(UINT message, WPARAM wParam, LPARAM lParam);
    CMemberHook(Owner& owner, Handler handler) : owner_(owner), handler_(handler) {}
    LRESULT PassOn(UINT message, WPARAM wParam, LPARAM lParam) {
        return CSubclassWnd::HandleMessage(message, wParam, lParam);
    }

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        return (owner_.*handler_)(message, wParam, lParam);
    }

private:
    Owner& owner_;
    Handler handler_;
};

}  // namespace tolvane

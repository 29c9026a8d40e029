#include "subclass_wnd.h"

#include <map>
#include <utility>

namespace tolvane {
namespace {

// The newest hook of every hooked window; the older ones hang off it.
std::map<HWND, CSubclassWnd*>& NewestHooks() {
    static std::map<HWND, CSubclassWnd*> hooks;
    return hooks;
}

thread_local const MSG* t_currentMessage = nullptr;

}  // namespace

bool CSubclassWnd::HookWindow(HWND window) {
    auto& hooks = NewestHooks();
    if (window_) {
        auto newest = hooks.find(window_);
        if (newest != hooks.end() && newest->second == this) {
            if (next_) {
                newest->second = next_;
            } else {
                hooks.erase(newest);
                ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
            }
        } else if (newest != hooks.end()) {
            for (CSubclassWnd* hook = newest->second; hook; hook = hook->next_)
                if (hook->next_ == this) hook->next_ = next_;
        }
        window_ = nullptr;
        next_ = nullptr;
        previous_ = nullptr;
    }
    if (!window) return true;

    auto newest = hooks.find(window);
    if (newest != hooks.end()) {
        next_ = newest->second;
        previous_ = next_->previous_;
    } else {
        previous_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HookProcedure)));
        if (!previous_) return false;
    }
    hooks[window] = this;
    window_ = window;
    return true;
}

LRESULT CSubclassWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (next_) return next_->HandleMessage(message, wParam, lParam);
    return ::CallWindowProcA(previous_, window_, message, wParam, lParam);
}

const MSG* CSubclassWnd::CurrentMessage() { return t_currentMessage; }

LRESULT CALLBACK CSubclassWnd::HookProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD position = ::GetMessagePos();
    MSG current{window, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()),
                {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))}};
    // A handler may send messages to other hooked windows; each call keeps its own record.
    const MSG* outer = std::exchange(t_currentMessage, &current);
    LRESULT result = 0;
    auto newest = NewestHooks().find(window);
    if (newest == NewestHooks().end()) {
        result = ::DefWindowProcA(window, message, wParam, lParam);
    } else if (message == WM_NCDESTROY) {
        // The window's own procedure sees its last message after every hook has let go.
        WNDPROC previous = newest->second->previous_;
        while ((newest = NewestHooks().find(window)) != NewestHooks().end()) newest->second->HookWindow(nullptr);
        result = ::CallWindowProcA(previous, window, message, wParam, lParam);
    } else {
        try {
            result = newest->second->HandleMessage(message, wParam, lParam);
        } catch (...) {
            // No exception may cross the system's call of a window procedure.
        }
    }
    t_currentMessage = outer;
    return result;
}

}  // namespace tolvane

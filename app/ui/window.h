// A window the code does not own: the handle and one-line calls over the API.
#pragma once

#include <windows.h>

#include <string>

namespace tolvane {

class CWindow {
public:
    CWindow(HWND window = nullptr) : hwnd_(window) {}

    HWND Handle() const { return hwnd_; }
    explicit operator bool() const { return hwnd_ != nullptr; }
    CWindow Item(int id) const { return CWindow(::GetDlgItem(hwnd_, id)); }
    int Id() const { return ::GetDlgCtrlID(hwnd_); }
    CWindow Parent() const { return CWindow(::GetParent(hwnd_)); }

    void Enable(bool enable = true) const { ::EnableWindow(hwnd_, enable); }
    bool IsEnabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }
    void Show(int command) const { ::ShowWindow(hwnd_, command); }
    bool IsVisible() const { return ::IsWindowVisible(hwnd_) != FALSE; }
    void SetText(const char* text) const { ::SetWindowTextA(hwnd_, text); }
    std::string Text() const {
        char text[512];
        int length = ::GetWindowTextA(hwnd_, text, sizeof text);
        return std::string(text, length > 0 ? length : 0);
    }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(hwnd_, message, wParam, lParam);
    }
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        ::PostMessageA(hwnd_, message, wParam, lParam);
    }
    void Invalidate() const { ::InvalidateRect(hwnd_, nullptr, TRUE); }

    RECT WindowRect() const {
        RECT rect{};
        ::GetWindowRect(hwnd_, &rect);
        return rect;
    }
    // The window's rectangle in its parent's client coordinates.
    RECT RectInParent() const {
        RECT rect = WindowRect();
        ::MapWindowPoints(nullptr, ::GetParent(hwnd_), reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
    void Move(const RECT& rect) const {
        ::MoveWindow(hwnd_, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
    }

protected:
    HWND hwnd_;
};

}  // namespace tolvane

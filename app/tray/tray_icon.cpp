#include "tray_icon.h"

#include "ui/message_box.h"

#include <cstring>

namespace tolvane {

namespace {

// Registered once, as the program loads, so that a restart of the shell at any time
// finds the number already known.
const UINT g_taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");

NotifyIconCall g_notifyIcon = nullptr;

// The record of the first shells (Windows 95 and NT 4), with a 64-byte tip: 88 bytes in a
// 32-bit program, 104 in a 64-bit one (the window and icon handles are 8 bytes there and
// aligned). Every later shell accepts it.
constexpr DWORD kNotifyIconRecordSize = sizeof(void*) == 8 ? 104 : 88;
constexpr std::size_t kTipSize = 64;
static_assert(offsetof(NOTIFYICONDATAA, szTip) + kTipSize == kNotifyIconRecordSize);

}  // namespace

UINT TaskbarCreatedMessage() { return g_taskbarCreated; }

NotifyIconCall SetNotifyIconCall(NotifyIconCall call) {
    NotifyIconCall previous = g_notifyIcon;
    g_notifyIcon = call;
    return previous;
}

CTrayIcon::CTrayIcon(UINT id) {
    data_.cbSize = kNotifyIconRecordSize;
    data_.uID = id;
    std::string tip = LoadMessage(id);
    std::strncpy(data_.szTip, tip.c_str(), kTipSize - 1);
}

CTrayIcon::~CTrayIcon() {
    SetIcon(0u, true);
    ownerHook_.HookWindow(nullptr);
    topLevelHook_.HookWindow(nullptr);
}

void CTrayIcon::SetNotificationWnd(HWND window, UINT callbackMessage) {
    data_.hWnd = window;
    data_.uCallbackMessage = callbackMessage;
    ownerHook_.HookWindow(window);
    HWND topLevel = window ? ::GetAncestor(window, GA_ROOT) : nullptr;
    topLevelHook_.HookWindow(topLevel != window ? topLevel : nullptr);
}

bool CTrayIcon::Request(DWORD request) {
    NotifyIconCall call = g_notifyIcon ? g_notifyIcon : ::Shell_NotifyIconA;
    return call(request, &data_) != FALSE;
}

bool CTrayIcon::SetIcon(HICON icon, const char* tip) {
    DWORD request;
    data_.uFlags = 0;
    if (icon) {
        request = data_.hIcon ? NIM_MODIFY : NIM_ADD;
        data_.hIcon = icon;
        data_.uFlags |= NIF_ICON;
    } else {
        if (!data_.hIcon) return true;
        request = NIM_DELETE;
    }
    if (tip) {
        std::memset(data_.szTip, 0, kTipSize);
        std::strncpy(data_.szTip, tip, kTipSize - 1);
    }
    if (data_.szTip[0]) data_.uFlags |= NIF_TIP;
    if (data_.hWnd && data_.uCallbackMessage) data_.uFlags |= NIF_MESSAGE;
    added_ = Request(request);
    // Forgotten, so that the next icon is added anew rather than changed.
    if (request == NIM_DELETE || !added_) data_.hIcon = nullptr;
    if (request == NIM_DELETE) hidden_ = false;
    return added_;
}

bool CTrayIcon::SetIcon(UINT iconId, bool loadTip) {
    if (loadTip && iconId) {
        std::string tip = LoadMessage(iconId);
        std::memset(data_.szTip, 0, kTipSize);
        std::strncpy(data_.szTip, tip.c_str(), kTipSize - 1);
    }
    if (!iconId) return SetIcon(static_cast<HICON>(nullptr));
    return SetIcon(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId)));
}

void CTrayIcon::RemoveIcon() {
    if (!added_) return;
    data_.uFlags = 0;
    Request(NIM_DELETE);
    added_ = false;
}

void CTrayIcon::HideIcon() {
    if (!added_ || hidden_) return;
    data_.uFlags = NIF_ICON;
    Request(NIM_DELETE);
    hidden_ = true;
}

void CTrayIcon::ShowIcon() {
    if (!added_ || !hidden_) return;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    Request(NIM_ADD);
    hidden_ = false;
}

bool CTrayIcon::OnTrayNotification(WPARAM id, LPARAM mouseMessage) {
    if (id != data_.uID || (mouseMessage != WM_RBUTTONUP && mouseMessage != WM_LBUTTONDBLCLK)) return false;
    HMENU menu = ::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(data_.uID));
    if (!menu) return false;
    HMENU popup = ::GetSubMenu(menu, 0);
    if (popup && mouseMessage == WM_RBUTTONUP) {
        ::SetMenuDefaultItem(popup, 0, TRUE);
        POINT cursor{};
        ::GetCursorPos(&cursor);
        // Without the foreground the menu would stay open when the user clicks elsewhere;
        // the empty message after it lets the menu close on the first click that follows.
        ::SetForegroundWindow(data_.hWnd);
        ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_LEFTBUTTON, cursor.x, cursor.y, 0, data_.hWnd, nullptr);
        ::PostMessageA(data_.hWnd, WM_NULL, 0, 0);
    } else if (popup) {
        ::SendMessageA(data_.hWnd, WM_COMMAND, ::GetMenuItemID(popup, 0), 0);
    }
    ::DestroyMenu(menu);
    return true;
}

void CTrayIcon::OnTaskbarCreated() {
    // The new shell holds no icon of ours; a hidden one goes back when the main window
    // closes, not while it is open.
    if (hidden_) return;
    HICON icon = data_.hIcon;
    data_.hIcon = nullptr;
    if (icon) SetIcon(icon);
}

LRESULT CTrayIcon::OwnerMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == data_.uCallbackMessage && data_.uCallbackMessage)
        OnTrayNotification(wParam, lParam);
    else if (message == g_taskbarCreated)
        OnTaskbarCreated();
    return ownerHook_.PassOn(message, wParam, lParam);
}

LRESULT CTrayIcon::TopLevelMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_taskbarCreated) OnTaskbarCreated();
    return topLevelHook_.PassOn(message, wParam, lParam);
}

}  // namespace tolvane

#include "message_box.h"

#include <cstdio>

namespace tolvane {

namespace {

MessageSink g_sink = nullptr;

// A window that can take a box's place on top: shown, usable and not the minimised frame
// that stands for the open main window in the taskbar.
bool CanOwn(HWND window) {
    return window && ::IsWindowVisible(window) && ::IsWindowEnabled(window) && !::IsIconic(window) &&
           !(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

BOOL CALLBACK TakeFirstOwner(HWND window, LPARAM found) {
    if (!CanOwn(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

int Show(const std::string& text, UINT type) {
    // Without an owner the main window stays live under the box, and a second click on
    // the button that raised it runs the same work again inside the box's message loop.
    HWND owner = ModalOwner();
    if (g_sink) return g_sink(text, type, owner);
    return ::MessageBoxA(owner, text.c_str(), "Tolvane", type);
}

}  // namespace

HWND ModalOwner() {
    HWND active = ::GetActiveWindow();
    if (CanOwn(active)) return active;
    // The user may have switched to another program while a download ran; the window
    // must be blocked all the same. The thread's windows come topmost first.
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), TakeFirstOwner, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string LoadMessage(UINT id) {
    char text[1024];
    int length = ::LoadStringA(::GetModuleHandleA(nullptr), id, text, sizeof text);
    return std::string(text, length > 0 ? length : 0);
}

std::string FormatMessageText(UINT id, unsigned long code) {
    std::string text = LoadMessage(id);
    std::string::size_type at = text.find("%x");
    if (at == std::string::npos) return text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%lx", code);
    return text.replace(at, 2, hex);
}

int ShowMessage(UINT id, UINT type) { return Show(LoadMessage(id), type); }

int ShowMessage(UINT id, unsigned long code, UINT type) { return Show(FormatMessageText(id, code), type); }

int ShowMessage(UINT id, const std::string& argument, UINT type) {
    std::string text = LoadMessage(id);
    std::string::size_type at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, argument);
    return Show(text, type);
}

int ShowText(const std::string& text, UINT type) { return Show(text, type); }

MessageSink SetMessageSink(MessageSink sink) {
    MessageSink previous = g_sink;
    g_sink = sink;
    return previous;
}

}  // namespace tolvane

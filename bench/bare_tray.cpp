// The reference of the start-up benchmark: the least a tray program does. It creates a
// hidden window, puts an icon into the notification area and waits for messages; the
// tray menu's Exit command (sent to the window as the program's tray menu sends it)
// removes the icon and ends it.
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT kTrayCallbackMessage = WM_USER + 10;
constexpr WORD kExitCommand = 57665;  // the program's own "Exit" command number
const char kWindowClass[] = "TolvaneBenchBareTray";

NOTIFYICONDATAA g_icon{};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kExitCommand) {
            ::PostMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_DESTROY:
        ::Shell_NotifyIconA(NIM_DELETE, &g_icon);
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (!::RegisterClassA(&windowClass)) return 1;
    HWND window = ::CreateWindowExA(0, kWindowClass, "Bare tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    g_icon.cbSize = sizeof g_icon;
    g_icon.hWnd = window;
    g_icon.uID = 1;
    g_icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    g_icon.uCallbackMessage = kTrayCallbackMessage;
    g_icon.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
    lstrcpynA(g_icon.szTip, "Bare tray", sizeof g_icon.szTip);
    ::Shell_NotifyIconA(NIM_ADD, &g_icon);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

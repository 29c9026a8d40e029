#include "app_test_support.h"

#include "pe_format.h"
#include "test_support.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

namespace tolvane::test {

namespace {

std::vector<ShownMessage> g_shown;
int g_answer = IDOK;

int Catch(const std::string& text, UINT type, HWND owner) {
    g_shown.push_back({text, type, owner});
    return g_answer;
}

}  // namespace

CaughtMessages::CaughtMessages(int answer) {
    g_shown.clear();
    g_answer = answer;
    SetMessageSink(Catch);
}

CaughtMessages::~CaughtMessages() { SetMessageSink(nullptr); }

const std::vector<ShownMessage>& CaughtMessages::shown() const { return g_shown; }

bool SetRawValue(const std::string& key, const char* name, DWORD type, const void* data, DWORD size) {
    unique_hkey opened;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExA(opened.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool SetDword(const std::string& key, const char* name, DWORD value, DWORD type) {
    return SetRawValue(key, name, type, &value, sizeof value);
}

namespace {

struct WindowSearch {
    const std::string* title;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    char text[128];
    if (::IsWindowVisible(window) && ::GetWindowTextA(window, text, sizeof text) && *search->title == text) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct ProcessWindowSearch {
    DWORD process;
    const char* className;
    const char* title;
    HWND found;
};

BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<ProcessWindowSearch*>(data);
    DWORD process = 0;
    char text[128];
    ::GetWindowThreadProcessId(window, &process);
    if (process != search->process || !::IsWindowVisible(window)) return TRUE;
    if (search->className &&
        (!::GetClassNameA(window, text, sizeof text) || std::string(text) != search->className))
        return TRUE;
    if (search->title && (!::GetWindowTextA(window, text, sizeof text) || std::string(text) != search->title))
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM text) {
    char buffer[512];
    if (::GetClassNameA(child, buffer, sizeof buffer) && ::lstrcmpiA(buffer, "Static") == 0)
        *reinterpret_cast<std::string*>(text) += std::string(buffer, ::GetWindowTextA(child, buffer, sizeof buffer));
    return TRUE;
}

struct DialogSearch {
    const char* caption;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    char text[128];
    if (::IsWindowVisible(window) && ::GetClassNameA(window, text, sizeof text) && std::string(text) == "#32770" &&
        (!search->caption || std::string(text, ::GetWindowTextA(window, text, sizeof text)) == search->caption))
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> ThreadDialogs(DWORD thread, const char* caption) {
    DialogSearch search{caption, {}};
    ::EnumThreadWindows(thread, CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool ClickButton(HWND dialog, int id, DWORD milliseconds) {
    DWORD_PTR answer = 0;
    if (::SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                              reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)), SMTO_NORMAL, milliseconds, &answer))
        return true;
    ADD_FAILURE() << "the click on " << id << " was not handled within " << milliseconds << " ms";
    // Topmost first: the window that blocks the thread goes before the one under it.
    for (HWND window : ThreadDialogs(::GetWindowThreadProcessId(dialog, nullptr)))
        if (::GetAncestor(dialog, GA_ROOT) != window) ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return false;
}

namespace {

// A mouse event at the window's centre, in the absolute units SendInput takes.
INPUT MouseAt(HWND window, DWORD flags) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ((rect.left + rect.right) / 2) * 65535 / (width - 1);
    input.mi.dy = ((rect.top + rect.bottom) / 2) * 65535 / (height - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

}  // namespace

void UserClick(HWND window) {
    INPUT inputs[4] = {MouseAt(window, MOUSEEVENTF_MOVE), MouseAt(window, MOUSEEVENTF_LEFTDOWN),
                       MouseAt(window, MOUSEEVENTF_LEFTUP), MouseAt(window, MOUSEEVENTF_MOVE)};
    // Then off to the screen's top right corner: a button the pointer rests on takes the
    // mouse capture when a window opens under it, and would take the next test's clicks.
    inputs[3].mi.dx = 65535;
    inputs[3].mi.dy = 0;
    ::SendInput(4, inputs, sizeof(INPUT));
}

void PointAt(HWND window) {
    INPUT input = MouseAt(window, MOUSEEVENTF_MOVE);
    ::SendInput(1, &input, sizeof(INPUT));
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > milliseconds) return false;
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

std::string PluginImagePath(std::uint16_t machine, const char* name) {
    return ModuleDirectory() + "\\plugin_images\\" + (machine == kMachineAmd64 ? "amd64" : "i386") + "\\" + name;
}

std::vector<std::string> ShownTexts(const CaughtMessages& caught) {
    std::vector<std::string> texts;
    for (const auto& shown : caught.shown()) texts.push_back(shown.text);
    return texts;
}

std::string StaticText(HWND dialog) {
    std::string text;
    ::EnumChildWindows(dialog, CollectStatic, reinterpret_cast<LPARAM>(&text));
    return text;
}

HWND WaitForProcessWindow(HANDLE process, DWORD processId, const char* className, const char* title,
                          DWORD milliseconds) {
    ProcessWindowSearch search{processId, className, title, nullptr};
    for (DWORD waited = 0; !search.found && waited < milliseconds; waited += 50) {
        ::EnumWindows(MatchProcessWindow, reinterpret_cast<LPARAM>(&search));
        if (!search.found && ::WaitForSingleObject(process, 50) == WAIT_OBJECT_0) break;
    }
    return search.found;
}

HWND WaitForThreadWindow(DWORD thread, const std::string& title, DWORD milliseconds) {
    WindowSearch search{&title, nullptr};
    for (DWORD waited = 0; waited < milliseconds && !search.found; waited += 50) {
        ::EnumThreadWindows(thread, MatchTitle, reinterpret_cast<LPARAM>(&search));
        if (!search.found) ::Sleep(50);
    }
    return search.found;
}

}  // namespace tolvane::test

#include "app_test_support.h"

#include "message_box.h"
#include "unique_handle.h"

namespace tolvane::test {

namespace {

std::vector<ShownMessage> g_shown;
int g_answer = IDOK;

int Catch(const std::string& text, UINT type) {
    g_shown.push_back({text, type});
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
    if (!::GetClassNameA(window, text, sizeof text) || std::string(text) != search->className) return TRUE;
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

}  // namespace

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

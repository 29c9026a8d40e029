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

}  // namespace

HWND WaitForThreadWindow(DWORD thread, const std::string& title) {
    WindowSearch search{&title, nullptr};
    for (int i = 0; i < 100 && !search.found; ++i) {
        ::EnumThreadWindows(thread, MatchTitle, reinterpret_cast<LPARAM>(&search));
        if (!search.found) ::Sleep(50);
    }
    return search.found;
}

}  // namespace tolvane::test

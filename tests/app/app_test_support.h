// Shared by the program's tests: messages caught instead of shown, and raw registry writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolvane::test {

struct ShownMessage {
    std::string text;
    UINT type;
};

// Catches every message the code under test shows, for the life of the scope, and
// answers each with `answer`.
class CaughtMessages {
public:
    explicit CaughtMessages(int answer = IDOK);
    ~CaughtMessages();
    CaughtMessages(const CaughtMessages&) = delete;
    CaughtMessages& operator=(const CaughtMessages&) = delete;
    const std::vector<ShownMessage>& shown() const;
};

// Sets a value of any type under HKLM, creating the key.
bool SetRawValue(const std::string& key, const char* name, DWORD type, const void* data, DWORD size);
bool SetDword(const std::string& key, const char* name, DWORD value, DWORD type = REG_DWORD);

// A visible window of `thread` with this title; null when none came within the time.
HWND WaitForThreadWindow(DWORD thread, const std::string& title, DWORD milliseconds = 5000);

// A visible window of another process (or this one) by class, and by title unless that
// is null; null when none came within the time or the process ended first.
HWND WaitForProcessWindow(HANDLE process, DWORD processId, const char* className, const char* title,
                          DWORD milliseconds = 15000);

// The texts of the messages caught, in order.
std::vector<std::string> ShownTexts(const CaughtMessages& caught);
// The static controls' texts of a dialog (a message box's message), run together.
std::string StaticText(HWND dialog);

}  // namespace tolvane::test

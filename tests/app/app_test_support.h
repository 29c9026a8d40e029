// Shared by the program's tests: messages caught instead of shown, and raw registry writes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tolvane::test {

struct ShownMessage {
    std::string text;
    UINT type;
    HWND owner;  // the window the box would have disabled
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

// A visible window of another process (or this one) by class and by title, each unless
// it is null; null when none came within the time or the process ended first.
HWND WaitForProcessWindow(HANDLE process, DWORD processId, const char* className, const char* title,
                          DWORD milliseconds = 15000);
// Sends a button's click to a page of another thread and returns true once it has been
// handled. A click that opens a modal window is not handled until that window closes: after
// `milliseconds` the windows the thread shows are ended as Escape ends them, so the test
// fails instead of waiting for CTest's limit.
bool ClickButton(HWND dialog, int id, DWORD milliseconds = 20000);
// Clicks the window with the mouse, as the user does: the system drops the click when the
// window's top-level window is disabled, as it is under a box it owns.
void UserClick(HWND window);
// Rests the mouse pointer on the window's centre.
void PointAt(HWND window);
// The visible dialogs of `thread`, topmost first; with a caption only those that carry it
// (message boxes have "Tolvane").
std::vector<HWND> ThreadDialogs(DWORD thread, const char* caption = nullptr);
// Runs this thread's messages until `done` holds or the time is up; false when it is up.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds);

// A plug-in-shaped DLL built for `machine` (kMachineI386 or kMachineAmd64), written at
// build time by tests/make_plugin_image.py beside the test programs: the seven plug-in
// exports, loadable by its own kind. The module of the other edition for the tests that
// must refuse one, without the other edition's build folder. `name` is "kwreng32.dll" or
// "hyseng32.dll".
std::string PluginImagePath(std::uint16_t machine, const char* name);

// The texts of the messages caught, in order.
std::vector<std::string> ShownTexts(const CaughtMessages& caught);
// The static controls' texts of a dialog (a message box's message), run together.
std::string StaticText(HWND dialog);

}  // namespace tolvane::test

// The program's messages: texts from its string table, shown in a message box.
#pragma once

#include <windows.h>

#include <string>

namespace tolvane {

// String-table entry id of the running program; empty when there is none.
std::string LoadMessage(UINT id);
// The entry with its "%x" replaced by code in hexadecimal.
std::string FormatMessageText(UINT id, unsigned long code);

// Returns the button pressed (IDOK, IDYES, ...).
int ShowMessage(UINT id, UINT type = MB_OK | MB_ICONEXCLAMATION);
int ShowMessage(UINT id, unsigned long code, UINT type = MB_OK | MB_ICONEXCLAMATION);
// The entry with its "%s" replaced by argument.
int ShowMessage(UINT id, const std::string& argument, UINT type = MB_OK | MB_ICONEXCLAMATION);
// A text that has no string-table entry.
int ShowText(const std::string& text, UINT type = MB_OK | MB_ICONEXCLAMATION);

// The window a message box or a dialog of the calling thread is to disable until it
// returns: the thread's active top-level window, or its topmost enabled one when another
// program has the foreground. Null on a thread without windows (a worker's boxes stay
// ownerless) and while only the tray icon is up.
HWND ModalOwner();

// Where messages go instead of a message box, for tests, which nobody clicks; returns the
// previous one. Null puts the message box back. `owner` is the box's owner window.
using MessageSink = int (*)(const std::string& text, UINT type, HWND owner);
MessageSink SetMessageSink(MessageSink sink);

}  // namespace tolvane

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
int ShowText(const std::string& text, UINT type = MB_OK | MB_ICONEXCLAMATION);

// Where messages go instead of a message box, for tests, which nobody clicks; returns the
// previous one. Null puts the message box back.
using MessageSink = int (*)(const std::string& text, UINT type);
MessageSink SetMessageSink(MessageSink sink);

}  // namespace tolvane

#include "hyperlink_control.h"

#include "message_box.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <cstdio>

namespace tolvane {
namespace {

UINT_PTR ShellOpen(const std::string& address, int show) {
    return reinterpret_cast<UINT_PTR>(::ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr, show));
}

UINT_PTR RunCommand(const std::string& command, int show) { return ::WinExec(command.c_str(), show); }

LinkShell g_shell{ShellOpen, RunCommand};

// Common controls before version 6 refuse the larger record of newer headers.
const UINT kToolInfoSize = TTTOOLINFOA_V2_SIZE;

// The default value of a key under HKEY_CLASSES_ROOT, if it fits the 260 bytes that
// associations are read into.
bool ReadClassText(const std::string& key, std::string& text) {
    unique_hkey opened;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return false;
    char value[260];
    DWORD size = sizeof value, type = REG_NONE;
    if (::RegQueryValueExA(opened.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        return false;
    text.assign(value, strnlen(value, size));
    if (type == REG_EXPAND_SZ) {
        char expanded[MAX_PATH];
        DWORD length = ::ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof expanded);
        if (length == 0 || length > sizeof expanded) return false;
        text = expanded;
    }
    return !text.empty();
}

}  // namespace

LinkShell SetLinkShell(const LinkShell& shell) {
    LinkShell previous = g_shell;
    g_shell = {shell.open ? shell.open : ShellOpen, shell.run ? shell.run : RunCommand};
    return previous;
}

UINT_PTR OpenHyperLink(const std::string& address, int show) {
    UINT_PTR result = g_shell.open(address, show);
    if (result > 32) return result;
    std::string pageClass, command;
    if (!ReadClassText(".htm", pageClass) || !ReadClassText(pageClass + "\\shell\\open\\command", command))
        return result;
    return g_shell.run(BrowserCommand(command, address), show);
}

std::string BrowserCommand(std::string openCommand, const std::string& address) {
    std::string::size_type placeholder = openCommand.find("\"%1\"");
    if (placeholder == std::string::npos) placeholder = openCommand.find("%1");
    if (placeholder != std::string::npos) openCommand.erase(placeholder);
    return openCommand + " " + address;
}

std::string HyperLinkErrorText(UINT_PTR code) {
    switch (code) {
    case 0: return "The operating system is out\nof memory or resources.";
    case SE_ERR_FNF: return "The specified file was not found.";
    case SE_ERR_PNF: return "The specified path was not found.";
    case SE_ERR_ACCESSDENIED: return "The operating system denied\naccess to the specified file.";
    case SE_ERR_OOM: return "There was not enough memory to complete the operation.";
    case ERROR_BAD_FORMAT: return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case SE_ERR_SHARE: return "A sharing violation occurred. ";
    case SE_ERR_ASSOCINCOMPLETE: return "The filename association is\nincomplete or invalid.";
    case SE_ERR_DDETIMEOUT: return "The DDE transaction could not\nbe completed because the request timed out.";
    case SE_ERR_DDEFAIL: return "The DDE transaction failed.";
    case SE_ERR_DDEBUSY:
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case SE_ERR_NOASSOC: return "There is no application associated\nwith the given filename extension.";
    case SE_ERR_DLLNOTFOUND: return "The specified dynamic-link library was not found.";
    }
    char text[64];
    std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", static_cast<int>(code));
    return text;
}

HyperLinkControl::HyperLinkControl()
    : hoverColour_(::GetSysColor(COLOR_HIGHLIGHT)),
      control_(*this, &HyperLinkControl::OnControlMessage),
      parent_(*this, &HyperLinkControl::OnParentMessage) {}

HyperLinkControl::~HyperLinkControl() {
    // The static outlives the link on a dialog that stays open; it must not keep our font.
    if (HWND control = Control()) ::SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(originalFont_), TRUE);
}

bool HyperLinkControl::Attach(HWND staticControl) {
    if (!control_.HookWindow(staticControl) || !parent_.HookWindow(::GetParent(staticControl))) {
        control_.HookWindow(nullptr);
        return false;
    }
    ::SetWindowLongA(staticControl, GWL_STYLE, ::GetWindowLongA(staticControl, GWL_STYLE) | SS_NOTIFY);

    char text[MAX_PATH] = "";
    ::GetWindowTextA(staticControl, text, sizeof text);
    if (address_.empty()) address_ = text;
    if (!text[0]) ::SetWindowTextA(staticControl, address_.c_str());

    originalFont_ = reinterpret_cast<HFONT>(::SendMessageA(staticControl, WM_GETFONT, 0, 0));
    LOGFONTA face{};
    ::GetObjectA(originalFont_ ? originalFont_ : ::GetStockObject(SYSTEM_FONT), sizeof face, &face);
    face.lfUnderline = underline_;
    font_.reset(::CreateFontIndirectA(&face));
    ::SendMessageA(staticControl, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);

    ResizeToFit();
    LoadHandPointer();
    CreateTooltip();
    return true;
}

void HyperLinkControl::SetAddress(const std::string& address) {
    address_ = address;
    if (!Control()) return;
    ResizeToFit();
    TOOLINFOA tool{kToolInfoSize, 0, Control(), 1};
    tool.lpszText = const_cast<char*>(address_.c_str());
    ::SendMessageA(tooltip_.get(), TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void HyperLinkControl::SetVisited(bool visited) {
    visited_ = visited;
    Repaint();
}

LRESULT HyperLinkControl::OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && tooltip_)
        ::SendMessageA(tooltip_.get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(CSubclassWnd::CurrentMessage()));
    switch (message) {
    case WM_MOUSEMOVE:
        PointerMoved({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        break;
    case WM_SETCURSOR:
        if (!pointer_) break;
        ::SetCursor(static_cast<HCURSOR>(pointer_.get()));
        return TRUE;
    case WM_CAPTURECHANGED:
        // Another window took the mouse (a message box, a menu): the pointer has left us.
        if (over_) {
            over_ = false;
            Repaint();
        }
        break;
    }
    return control_.PassOn(message, wParam, lParam);
}

LRESULT HyperLinkControl::OnParentMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    bool fromLink = reinterpret_cast<HWND>(lParam) == Control();
    if (message == WM_CTLCOLORSTATIC && fromLink) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, TextColour());
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetStockObject(HOLLOW_BRUSH));
    }
    if (message == WM_COMMAND && fromLink && HIWORD(wParam) == STN_CLICKED) {
        Click();
        return 0;
    }
    return parent_.PassOn(message, wParam, lParam);
}

void HyperLinkControl::PointerMoved(POINT at) {
    if (!over_) {
        over_ = true;
        Repaint();
        ::SetCapture(Control());
        return;
    }
    RECT client;
    ::GetClientRect(Control(), &client);
    if (::PtInRect(&client, at)) return;
    over_ = false;  // first, so the capture change that follows finds nothing to undo
    ::ReleaseCapture();
    Repaint();
}

void HyperLinkControl::Click() {
    UINT_PTR result = OpenHyperLink(address_, SW_SHOW);
    if (result > 32) {
        SetVisited(true);
        return;
    }
    ::MessageBeep(MB_ICONEXCLAMATION);
    ShowText("Unable to open hyperlink:\n\n" + HyperLinkErrorText(result), MB_OK | MB_ICONEXCLAMATION);
}

void HyperLinkControl::ResizeToFit() {
    HWND control = Control();
    if (!adjustToFit_ || !control) return;
    char text[MAX_PATH] = "";
    int length = ::GetWindowTextA(control, text, sizeof text);
    SIZE extent{};
    HDC dc = ::GetDC(control);
    HGDIOBJ previousFont = ::SelectObject(dc, font_.get());
    ::GetTextExtentPoint32A(dc, text, length, &extent);
    ::SelectObject(dc, previousFont);
    ::ReleaseDC(control, dc);

    RECT box;
    ::GetWindowRect(control, &box);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&box), 2);
    LONG style = ::GetWindowLongA(control, GWL_STYLE);
    if (style & SS_CENTERIMAGE) box.top = (box.top + box.bottom - extent.cy) / 2;
    if ((style & SS_TYPEMASK) == SS_CENTER)
        box.left = (box.left + box.right - extent.cx) / 2;
    else if ((style & SS_TYPEMASK) == SS_RIGHT)
        box.left = box.right - extent.cx;
    ::SetWindowPos(control, nullptr, box.left, box.top, extent.cx, extent.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The system help viewer carries the hand pointer that older systems lack.
void HyperLinkControl::LoadHandPointer() {
    if (pointer_) return;
    char viewer[MAX_PATH];
    UINT length = ::GetWindowsDirectoryA(viewer, sizeof viewer);
    if (length == 0 || length + sizeof "\\winhlp32.exe" > sizeof viewer) return;
    lstrcatA(viewer, "\\winhlp32.exe");
    unique_hmodule module(::LoadLibraryExA(viewer, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return;
    if (HCURSOR hand = ::LoadCursorA(module.get(), MAKEINTRESOURCEA(106)))
        pointer_.reset(static_cast<HICON>(::CopyIcon(hand)));
}

void HyperLinkControl::CreateTooltip() {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    tooltip_.reset(::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Control(), nullptr,
                                     nullptr, nullptr));
    TOOLINFOA tool{kToolInfoSize, 0, Control(), 1};
    ::GetClientRect(Control(), &tool.rect);
    tool.lpszText = const_cast<char*>(address_.c_str());
    ::SendMessageA(tooltip_.get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void HyperLinkControl::Repaint() const {
    if (Control()) ::InvalidateRect(Control(), nullptr, TRUE);
}

COLORREF HyperLinkControl::TextColour() const {
    if (over_) return hoverColour_;
    return visited_ ? visitedColour_ : linkColour_;
}

}  // namespace tolvane

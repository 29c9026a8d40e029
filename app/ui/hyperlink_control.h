// A static text of a dialog turned into a web or mail link: underlined in link colours,
// a hand pointer and a tooltip with the address, opened with the shell when clicked.
#pragma once

#include "subclass_wnd.h"
#include "unique_handle.h"

#include <windows.h>

#include <string>

namespace tolvane {

// How a link reaches the system; tests put their own in place so that nothing starts.
struct LinkShell {
    UINT_PTR (*open)(const std::string& address, int show);  // the shell's "open" verb
    UINT_PTR (*run)(const std::string& command, int show);   // a command line
};
// Returns the previous one; a LinkShell with empty members puts the system's back.
LinkShell SetLinkShell(const LinkShell& shell);

// Opens the address with the shell; when the shell cannot, with the program that opens
// ".htm" pages. A result above 32 is success, any other is the shell's error code.
UINT_PTR OpenHyperLink(const std::string& address, int show);
// The command line for `address` from an association's open command: the command cut at
// its "%1" placeholder (quoted or not), a blank and the address.
std::string BrowserCommand(std::string openCommand, const std::string& address);
// What the user is told for a failed open's code.
std::string HyperLinkErrorText(UINT_PTR code);

class HyperLinkControl {
public:
    HyperLinkControl();
    ~HyperLinkControl();
    HyperLinkControl(const HyperLinkControl&) = delete;
    HyperLinkControl& operator=(const HyperLinkControl&) = delete;

    // Turns the static control into the link. Its parent is hooked too, as the static
    // reports clicks and asks for its colours there.
    bool Attach(HWND staticControl);
    void SetAddress(const std::string& address);
    const std::string& Address() const { return address_; }
    void SetVisited(bool visited);
    bool Visited() const { return visited_; }
    HWND Tooltip() const { return tooltip_.get(); }

private:
    LRESULT OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnParentMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void PointerMoved(POINT at);
    void Click();
    void ResizeToFit();
    void LoadHandPointer();
    void CreateTooltip();
    void Repaint() const;
    COLORREF TextColour() const;
    HWND Control() const { return control_.Window(); }

    COLORREF linkColour_ = RGB(0, 0, 238);
    COLORREF visitedColour_ = RGB(85, 26, 139);
    COLORREF hoverColour_;
    bool over_ = false;
    bool visited_ = false;
    bool underline_ = true;
    bool adjustToFit_ = true;
    std::string address_;
    HFONT originalFont_ = nullptr;
    unique_gdi font_;
    unique_hicon pointer_;
    unique_hwnd tooltip_;
    // Last, so the hooks let go before the font and the tooltip they use are gone.
    CMemberHook<HyperLinkControl> control_;
    CMemberHook<HyperLinkControl> parent_;
};

}  // namespace tolvane

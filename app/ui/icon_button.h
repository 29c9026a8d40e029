// A push button drawn by the program: an icon left of its text, flat with a raised edge
// while the mouse is over it, sunken while pressed.
#pragma once

#include "unique_handle.h"
#include "window.h"

#include <windows.h>

namespace tolvane {

class CIconButton : public CWindow {
public:
    CIconButton() = default;
    ~CIconButton();
    CIconButton(const CIconButton&) = delete;
    CIconButton& operator=(const CIconButton&) = delete;

    // Makes the button owner-drawn with the icon resource iconId; a button reading
    // "Hide Window" grows 35 pixels to the left to make room for it.
    bool Attach(HWND button, int iconId, int iconSize = 32);
    void Detach();

    // For the parent's WM_DRAWITEM: draws the button when it is one of ours.
    static bool DrawFromParent(const DRAWITEMSTRUCT& item);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    void TrackHot(LPARAM point);
    // Whether a click could reach the button: shown, enabled, its window not blocked.
    bool Reachable() const;
    // Drops the hot look and the mouse capture that came with it.
    void LetGo();
    void SetHot(bool hot);
    void Draw(const DRAWITEMSTRUCT& item) const;

    unique_hicon icon_;
    int iconSize_ = 32;
    bool flat_ = true;
    bool drawBorder_ = true;
    bool showText_ = true;
    bool hot_ = false;
    COLORREF face_ = 0, text_ = 0, hotFace_ = 0, hotText_ = 0;
};

}  // namespace tolvane

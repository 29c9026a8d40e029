#include "icon_button.h"

#include <commctrl.h>

#include <cstring>

namespace tolvane {

namespace {

const char kButtonProperty[] = "TolvaneIconButton";
constexpr UINT_PTR kSubclassId = 0x1C0B;
constexpr int kIconInset = 3;

void Frame(HDC dc, RECT rect, COLORREF topLeft, COLORREF bottomRight) {
    auto line = [dc](int x1, int y1, int x2, int y2, COLORREF colour) {
        unique_gdi pen(::CreatePen(PS_SOLID, 1, colour));
        HGDIOBJ previous = ::SelectObject(dc, pen.get());
        ::MoveToEx(dc, x1, y1, nullptr);
        ::LineTo(dc, x2, y2);
        ::SelectObject(dc, previous);
    };
    line(rect.left, rect.bottom - 1, rect.left, rect.top, topLeft);
    line(rect.left, rect.top, rect.right - 1, rect.top, topLeft);
    line(rect.right - 1, rect.top, rect.right - 1, rect.bottom - 1, bottomRight);
    line(rect.right - 1, rect.bottom - 1, rect.left - 1, rect.bottom - 1, bottomRight);
}

}  // namespace

CIconButton::~CIconButton() { Detach(); }

bool CIconButton::Attach(HWND button, int iconId, int iconSize) {
    Detach();
    hwnd_ = button;
    if (!hwnd_) return false;
    iconSize_ = iconSize;
    icon_.reset(static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId), IMAGE_ICON,
                                                iconSize, iconSize, LR_DEFAULTCOLOR)));
    face_ = hotFace_ = ::GetSysColor(COLOR_BTNFACE);
    text_ = hotText_ = ::GetSysColor(COLOR_BTNTEXT);
    if (Text() == "Hide Window") {
        RECT rect = RectInParent();
        rect.left -= 35;
        Move(rect);
    }
    ::SetWindowLongPtrA(hwnd_, GWL_STYLE, (::GetWindowLongPtrA(hwnd_, GWL_STYLE) & ~BS_TYPEMASK) | BS_OWNERDRAW);
    ::SetPropA(hwnd_, kButtonProperty, this);
    ::SetWindowSubclass(hwnd_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    Invalidate();
    return true;
}

void CIconButton::Detach() {
    if (hwnd_ && ::IsWindow(hwnd_)) {
        ::RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
        ::RemovePropA(hwnd_, kButtonProperty);
    }
    hwnd_ = nullptr;
    hot_ = false;
    icon_.reset();
}

bool CIconButton::DrawFromParent(const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_BUTTON) return false;
    auto* button = static_cast<CIconButton*>(::GetPropA(item.hwndItem, kButtonProperty));
    if (!button) return false;
    button->Draw(item);
    return true;
}

LRESULT CALLBACK CIconButton::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                           DWORD_PTR data) {
    auto* self = reinterpret_cast<CIconButton*>(data);
    switch (message) {
    case WM_MOUSEMOVE:
        self->TrackHot(lParam);
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        // The capture taken for the hot look brings clicks from anywhere on the screen,
        // also while the page is hidden behind another tab or the window is blocked
        // under a message box: such a click is not this button's.
        if (!self->Reachable()) {
            self->LetGo();
            return 0;
        }
        break;
    case WM_KILLFOCUS:
        self->SetHot(false);
        break;
    case WM_NCDESTROY:
        // The window goes before the page object that holds the button.
        ::RemoveWindowSubclass(window, SubclassProc, id);
        ::RemovePropA(window, kButtonProperty);
        self->hwnd_ = nullptr;
        break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

bool CIconButton::Reachable() const {
    return ::IsWindowVisible(hwnd_) && ::IsWindowEnabled(hwnd_) && ::IsWindowEnabled(::GetAncestor(hwnd_, GA_ROOT));
}

void CIconButton::LetGo() {
    SetHot(false);
    if (::GetCapture() == hwnd_) ::ReleaseCapture();
}

void CIconButton::TrackHot(LPARAM point) {
    if (!flat_) return;
    if (!Reachable()) return LetGo();
    bool leftDown = (::GetKeyState(VK_LBUTTON) & 0x8000) != 0;
    if (leftDown && !hot_) return;
    if (::GetCapture() != hwnd_ && ::GetActiveWindow()) {
        ::SetCapture(hwnd_);
        SetHot(true);
        return;
    }
    POINT at{static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    RECT client;
    ::GetClientRect(hwnd_, &client);
    if (!::PtInRect(&client, at)) {
        SetHot(false);
        if (!leftDown) ::ReleaseCapture();
    }
}

void CIconButton::SetHot(bool hot) {
    if (hot_ == hot) return;
    hot_ = hot;
    Invalidate();
}

void CIconButton::Draw(const DRAWITEMSTRUCT& item) const {
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    bool pressed = (item.itemState & ODS_SELECTED) != 0;
    bool disabled = (item.itemState & ODS_DISABLED) != 0;
    bool focused = (item.itemState & ODS_FOCUS) != 0;
    bool lit = hot_ || pressed;

    unique_gdi brush(::CreateSolidBrush(lit ? hotFace_ : face_));
    ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.get()));
    if (drawBorder_) {
        if (pressed) {
            if (flat_) Frame(dc, rect, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHILIGHT));
            else Frame(dc, rect, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNSHADOW));
        } else if (flat_) {
            if (hot_) Frame(dc, rect, ::GetSysColor(COLOR_BTNHILIGHT), ::GetSysColor(COLOR_BTNSHADOW));
        } else {
            ::DrawEdge(dc, &rect, EDGE_RAISED, BF_RECT);
            if (focused) {
                ::FrameRect(dc, &rect, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
                RECT focus = rect;
                ::InflateRect(&focus, -3, -3);
                ::DrawFocusRect(dc, &focus);
            }
        }
    }

    char text[128];
    int length = showText_ ? ::GetWindowTextA(item.hwndItem, text, sizeof text) : 0;
    int shift = pressed ? 1 : 0;
    int height = rect.bottom - rect.top;
    int iconLeft = length > 0 ? rect.left + kIconInset : rect.left + (rect.right - rect.left - iconSize_) / 2;
    int iconTop = rect.top + (height - iconSize_) / 2;
    if (icon_) {
        ::DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon_.get()), 0, iconLeft + shift,
                     iconTop + shift, iconSize_, iconSize_, DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
    }
    if (length > 0) {
        RECT textRect = rect;
        textRect.left = icon_ ? iconLeft + iconSize_ : rect.left;
        ::OffsetRect(&textRect, shift, shift);
        ::SetBkMode(dc, TRANSPARENT);
        if (disabled) {
            // Drawn in the disabled style from its top left corner, so centred by hand.
            RECT measured = textRect;
            ::DrawTextA(dc, text, length, &measured, DT_SINGLELINE | DT_CALCRECT);
            int textWidth = measured.right - measured.left, textHeight = measured.bottom - measured.top;
            ::DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(text), length,
                         textRect.left + (textRect.right - textRect.left - textWidth) / 2,
                         textRect.top + (textRect.bottom - textRect.top - textHeight) / 2, textWidth, textHeight,
                         DST_PREFIXTEXT | DSS_DISABLED);
        } else {
            ::SetTextColor(dc, lit ? hotText_ : text_);
            ::DrawTextA(dc, text, length, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
    }
}

}  // namespace tolvane

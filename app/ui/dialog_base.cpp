#include "dialog_base.h"

#include "icon_button.h"
#include "message_box.h"
#include "resource.h"

namespace tolvane {

INT_PTR CDialogBase::DoModal(HWND parent) {
    return ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self = message == WM_INITDIALOG
                            ? reinterpret_cast<CDialogBase*>(lParam)
                            : reinterpret_cast<CDialogBase*>(::GetWindowLongPtrA(window, DWLP_USER));
    return Route(self, window, message, wParam, lParam);
}

INT_PTR CDialogBase::Route(CDialogBase* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG && self) {
        ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->hwnd_ = window;
    }
    if (!self) return FALSE;
    // An exception must not unwind through the system's dialog code, which cannot pass it on.
    try {
        INT_PTR handled = self->HandleMessage(message, wParam, lParam);
        if (message == WM_NCDESTROY) self->hwnd_ = nullptr;
        return handled;
    } catch (...) {
        ShowMessage(IDS_UNSPECIFIED_ERROR);
        return FALSE;
    }
}

INT_PTR CDialogBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInit() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!OnNotify(*reinterpret_cast<NMHDR*>(lParam), result)) return FALSE;
        ::SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SHOWWINDOW:
        OnShow(wParam != FALSE);
        return FALSE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_DRAWITEM:
        return CIconButton::DrawFromParent(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace tolvane

// Dialogs and property pages: one dialog procedure that finds its object, keeps every
// exception on this side of the system's code, and hands messages to virtual handlers.
#pragma once

#include "window.h"

#include <windows.h>

namespace tolvane {

class CDialogBase : public CWindow {
public:
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    UINT TemplateId() const { return templateId_; }
    INT_PTR DoModal(HWND parent);
    void End(INT_PTR result) const { ::EndDialog(hwnd_, result); }

protected:
    explicit CDialogBase(UINT templateId) : templateId_(templateId) {}

    // Binds `self` to the window, then routes the message to it.
    static INT_PTR Route(CDialogBase* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Handlers answer true when they handled the message.
    virtual bool OnInit() { return true; }
    virtual bool OnCommand(int id, int code, HWND control) { return false; }
    virtual bool OnNotify(NMHDR& header, LRESULT& result) { return false; }
    virtual void OnTimer(UINT_PTR event) {}
    virtual void OnShow(bool shown) {}
    virtual bool OnPaint() { return false; }
    virtual void OnDestroy() {}

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
};

}  // namespace tolvane

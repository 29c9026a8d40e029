// A page of a property sheet: a dialog whose object arrives in its page record, with the
// sheet's notifications as handlers of their own.
#pragma once

#include "dialog_base.h"

#include <commctrl.h>

namespace tolvane {

class CPropertyPageBase : public CDialogBase {
public:
    // The record the sheet creates the page from; the dialog template gives the tab title.
    PROPSHEETPAGEA PageRecord();

protected:
    explicit CPropertyPageBase(UINT templateId) : CDialogBase(templateId) {}

    bool OnNotify(NMHDR& header, LRESULT& result) override;
    // False keeps the page from becoming active (or, for OnKillActive, from being left).
    virtual bool OnSetActive() { return true; }
    virtual bool OnKillActive() { return true; }
    virtual void OnApply() {}
    virtual void OnReset() {}

private:
    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

}  // namespace tolvane

#include "property_page_base.h"

namespace tolvane {

PROPSHEETPAGEA CPropertyPageBase::PageRecord() {
    PROPSHEETPAGEA page{};
    page.dwSize = sizeof page;
    page.hInstance = ::GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(TemplateId());
    page.pfnDlgProc = PageProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

INT_PTR CALLBACK CPropertyPageBase::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self =
        message == WM_INITDIALOG
            ? reinterpret_cast<CPropertyPageBase*>(reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam)
            : reinterpret_cast<CDialogBase*>(::GetWindowLongPtrA(window, DWLP_USER));
    return Route(self, window, message, wParam, lParam);
}

bool CPropertyPageBase::OnNotify(NMHDR& header, LRESULT& result) {
    switch (header.code) {
    case PSN_SETACTIVE:
        result = OnSetActive() ? 0 : -1;
        return true;
    case PSN_KILLACTIVE:
        result = OnKillActive() ? FALSE : TRUE;
        return true;
    case PSN_APPLY:
        OnApply();
        result = PSNRET_NOERROR;
        return true;
    case PSN_RESET:
        OnReset();
        return true;
    default:
        return false;
    }
}

}  // namespace tolvane

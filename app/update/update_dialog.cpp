#include "update_dialog.h"

#include "resource.h"
#include "update_version_file.h"

#include <commctrl.h>

#include <cstdio>

namespace tolvane {

DownloadProgressDialog::DownloadProgressDialog(HWND owner) : owner_(owner) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&classes);
    window_.reset(::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DOWNLOAD_PROGRESS), owner,
                                       Procedure, reinterpret_cast<LPARAM>(this)));
    if (!window_) return;
    HWND bar = ::GetDlgItem(window_.get(), IDC_UPDATE_PROGRESS);
    ::SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    ::SendMessageA(bar, PBM_SETSTEP, 1, 0);
    ::SendMessageA(bar, PBM_SETPOS, 0, 0);
    if (owner_) ::EnableWindow(owner_, FALSE);
    ::ShowWindow(window_.get(), SW_SHOW);
}

DownloadProgressDialog::~DownloadProgressDialog() {
    // Before the window goes, so activation returns to the owner and not to another program.
    if (owner_) ::EnableWindow(owner_, TRUE);
}

void DownloadProgressDialog::SetStatus(const char* text) { ::SetDlgItemTextA(window_.get(), IDC_UPDATE_STATUS, text); }

void DownloadProgressDialog::SetCaption(const std::string& text) { ::SetWindowTextA(window_.get(), text.c_str()); }

void DownloadProgressDialog::SetPosition(std::uint32_t position) {
    std::optional<int> percent = ProgressPercent(position, 0, upper_);
    if (!percent) return;
    ::SendDlgItemMessageA(window_.get(), IDC_UPDATE_PROGRESS, PBM_SETPOS, *percent, 0);
    char text[16];
    std::snprintf(text, sizeof text, "%d%c", *percent, '%');
    if (shownPercent_ == text) return;
    shownPercent_ = text;
    ::SetDlgItemTextA(window_.get(), IDC_UPDATE_PERCENT, text);
}

INT_PTR CALLBACK DownloadProgressDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<DownloadProgressDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
    // Escape and the close box come as IDCANCEL too; the window itself stays until the run ends.
    if (self && message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        self->cancelLatch_ = true;
        return TRUE;
    }
    return FALSE;
}

}  // namespace tolvane

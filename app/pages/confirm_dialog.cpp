#include "confirm_dialog.h"

#include "maintenance/quarantine_manager.h"
#include "resource.h"
#include "ui/message_box.h"

namespace tolvane {

ConfirmDialog::ConfirmDialog(UINT question) : CDialogBase(IDD_CONFIRM), question_(question) {}

ConfirmDialog::~ConfirmDialog() {
    if (dontAskAgain_) StopConfirming(question_);
}

bool ConfirmDialog::OnInit() {
    Item(IDC_CONFIRM_TEXT).SetText(LoadMessage(question_).c_str());
    Item(IDC_CONFIRM_ICON).Send(STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconA(nullptr, IDI_QUESTION)));
    return true;
}

bool ConfirmDialog::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_DONT_ASK:
        dontAskAgain_ = Item(IDC_DONT_ASK).Send(BM_GETCHECK) == BST_CHECKED;
        return true;
    case IDOK:
    case IDCANCEL:
        End(id);
        return true;
    default:
        return false;
    }
}

}  // namespace tolvane

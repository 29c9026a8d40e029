// "Are you sure?": the question before a restore or a delete, with the box that stops
// the question from being asked again.
#pragma once

#include "ui/dialog_base.h"

namespace tolvane {

class ConfirmDialog : public CDialogBase {
public:
    // question: IDS_CONFIRM_RESTORE or IDS_CONFIRM_DELETE, which also names the setting
    // the box switches off.
    explicit ConfirmDialog(UINT question);
    // The box takes effect whichever button closed the dialog.
    ~ConfirmDialog() override;

    bool DontAskAgain() const { return dontAskAgain_; }

protected:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;

private:
    UINT question_;
    bool dontAskAgain_ = false;
};

}  // namespace tolvane

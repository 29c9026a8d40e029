// The main window: a property sheet over the hidden frame, its first page Detect/Remove.
// "Quit" (the sheet's OK button) ends the program; "Hide Window" (its Cancel button) and
// the close box return to the tray.
#pragma once

#include "detect_page.h"
#include "options_page.h"
#include "ui/icon_button.h"
#include "ui/property_page_base.h"

#include "hyseng32.h"
#include "kwreng32.h"

#include <memory>
#include <vector>

namespace tolvane {

class CMyPropertySheet {
public:
    CMyPropertySheet(IScanEngine* scanEngine, IPrivacyEngine* privacyEngine, UINT captionId,
                     HWND parent = nullptr, UINT firstPage = 0);
    CMyPropertySheet(const CMyPropertySheet&) = delete;
    CMyPropertySheet& operator=(const CMyPropertySheet&) = delete;

    // Shows the sheet until the user closes it: IDOK for "Quit", IDCANCEL otherwise,
    // -1 when it could not be shown.
    INT_PTR DoModal(HWND owner);
    // The sheet window while it is shown.
    HWND Handle() const { return hwnd_; }
    std::size_t PageCount() const { return pages_.size(); }
    CTolvaneDlg& DetectPage() { return *detectPage_; }
    COptions& OptionsPage() { return *optionsPage_; }

private:
    static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam);
    static LRESULT CALLBACK SheetSubclass(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR data);
    void OnInitialized(HWND sheet);

    std::vector<std::unique_ptr<CPropertyPageBase>> pages_;
    CTolvaneDlg* detectPage_;
    COptions* optionsPage_;
    IPrivacyEngine* privacyEngine_;  // for the Privacy Control page; null without one
    UINT captionId_;
    HWND parent_;
    UINT firstPage_;
    HWND hwnd_ = nullptr;
    bool quitChosen_ = false;
    CIconButton quitButton_;
    CIconButton hideButton_;
};

}  // namespace tolvane

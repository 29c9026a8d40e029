// "Program Status and Updates": the definitions date, the update, the plug-in manager and
// the quarantine folder's files, which the user restores or deletes from here.
#pragma once

#include "maintenance/quarantine_manager.h"
#include "ui/icon_button.h"
#include "ui/property_page_base.h"
#include "unique_handle.h"

#include <string>
#include <vector>

namespace tolvane {

class COptions2 : public CPropertyPageBase {
public:
    explicit COptions2(std::string quarantineFolder);

    QuarantineManager& Quarantine() { return quarantine_; }

    // The buttons' work.
    void CheckForDefinitions();
    void OpenPluginManager();
    void RestoreSelected();
    void DeleteSelected();

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnShow(bool shown) override;
    void OnDestroy() override;

private:
    void ShowQuarantine();
    std::vector<std::string> Selection() const;
    // The "Are you sure?" dialog; stopAsking tells whether its box was checked.
    bool Ask(UINT question, bool& stopAsking);
    // The pop-up naming where the file under the pointer came from.
    void ShowFormerPath(POINT screen);

    struct DestroyMenuCall {
        void operator()(HMENU menu) const { ::DestroyMenu(menu); }
    };
    using OwnedMenu = unique_any<HMENU, DestroyMenuCall, detail::null_value<HMENU>>;

    QuarantineManager quarantine_;
    OwnedMenu formerPathMenu_;
    CIconButton updateButton_;
    CIconButton pluginButton_;
    CIconButton restoreButton_;
    CIconButton deleteButton_;
};

}  // namespace tolvane

// "Tolvane Plugin Manager": the plug-ins of the plug-in folder in two lists, not installed
// and installed. Moving a plug-in between them and choosing OK installs or removes it;
// the program's engines change at its next start.
#pragma once

#include "maintenance/plugin_manager.h"
#include "ui/dialog_base.h"

#include <memory>
#include <vector>

namespace tolvane {

class PluginManagerDialog : public CDialogBase {
public:
    PluginManagerDialog();

protected:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnDestroy() override;

private:
    void Fill();
    void AddItem(int list, PluginEntry* entry);
    // Moves the selected items of one list to the other, critical ones excepted when
    // they would leave the installed list.
    void Move(int from, int to);
    // Removes what left the installed list, installs what entered it.
    void Apply();
    std::vector<PluginEntry*> Entries(int list) const;

    // Each list item carries the address of its entry, which lives here until the dialog ends.
    std::vector<std::unique_ptr<PluginEntry>> entries_;
};

}  // namespace tolvane

#include "plugin_manager_dialog.h"

#include "resource.h"
#include "ui/message_box.h"

#include <exception>

namespace tolvane {

PluginManagerDialog::PluginManagerDialog() : CDialogBase(IDD_PLUGIN_MANAGER) {}

bool PluginManagerDialog::OnInit() {
    try {
        Fill();
    } catch (const std::exception&) {
        // What was listed before the failure stays usable.
        ShowMessage(IDS_PLUGIN_INTERNAL_ERROR);
    }
    return true;
}

void PluginManagerDialog::Fill() {
    for (PluginEntry& found : FindPlugins(PluginsDirectory())) {
        entries_.push_back(std::make_unique<PluginEntry>(std::move(found)));
        PluginEntry* entry = entries_.back().get();
        AddItem(entry->installed ? IDC_INSTALLED_PLUGINS : IDC_AVAILABLE_PLUGINS, entry);
    }
}

void PluginManagerDialog::AddItem(int list, PluginEntry* entry) {
    CWindow box = Item(list);
    LRESULT index = box.Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry->name.c_str()));
    if (index >= 0) box.Send(LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(entry));
}

bool PluginManagerDialog::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_INSTALL_PLUGIN:
        Move(IDC_AVAILABLE_PLUGINS, IDC_INSTALLED_PLUGINS);
        return true;
    case IDC_REMOVE_PLUGIN:
        Move(IDC_INSTALLED_PLUGINS, IDC_AVAILABLE_PLUGINS);
        return true;
    case IDOK:
        Apply();
        End(IDOK);
        return true;
    case IDCANCEL:
        End(IDCANCEL);
        return true;
    default:
        return false;
    }
}

void PluginManagerDialog::Move(int from, int to) {
    CWindow source = Item(from);
    LRESULT count = source.Send(LB_GETSELCOUNT);
    if (count <= 0) return;
    std::vector<int> selected(static_cast<std::size_t>(count));
    count = source.Send(LB_GETSELITEMS, selected.size(), reinterpret_cast<LPARAM>(selected.data()));
    // From the highest index down, so a deletion never shifts an index still to visit.
    for (LRESULT i = count - 1; i >= 0; --i) {
        auto* entry = reinterpret_cast<PluginEntry*>(source.Send(LB_GETITEMDATA, selected[i]));
        if (!entry || entry == reinterpret_cast<PluginEntry*>(LB_ERR)) continue;
        if (from == IDC_INSTALLED_PLUGINS && entry->critical) continue;
        AddItem(to, entry);
        source.Send(LB_DELETESTRING, selected[i]);
    }
}

std::vector<PluginEntry*> PluginManagerDialog::Entries(int list) const {
    std::vector<PluginEntry*> listed;
    CWindow box = Item(list);
    LRESULT count = box.Send(LB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        auto* entry = reinterpret_cast<PluginEntry*>(box.Send(LB_GETITEMDATA, i));
        if (entry && entry != reinterpret_cast<PluginEntry*>(LB_ERR)) listed.push_back(entry);
    }
    return listed;
}

void PluginManagerDialog::Apply() {
    for (PluginEntry* entry : Entries(IDC_AVAILABLE_PLUGINS))
        if (entry->installed) ChangePluginRegistration(*entry, false);
    for (PluginEntry* entry : Entries(IDC_INSTALLED_PLUGINS))
        if (!entry->installed) ChangePluginRegistration(*entry, true);
    ShowMessage(IDS_PLUGIN_CHANGES_LATER, UINT{MB_OK | MB_ICONINFORMATION});
}

void PluginManagerDialog::OnDestroy() {
    // The lists hold addresses into entries_; the windows go before the entries do.
    entries_.clear();
}

}  // namespace tolvane

#include "status_page.h"

#include "confirm_dialog.h"
#include "plugin_manager_dialog.h"
#include "resource.h"
#include "shell_hooks.h"

#include <windowsx.h>

namespace tolvane {
namespace {

constexpr char kUnknownDate[] = "<Unknown>";

}  // namespace

COptions2::COptions2(std::string quarantineFolder)
    : CPropertyPageBase(IDD_STATUS_PAGE), quarantine_(std::move(quarantineFolder)) {}

bool COptions2::OnInit() {
    quarantine_.OnRefresh([this] { ShowQuarantine(); });
    // The menu's one entry is rewritten for every file asked about.
    formerPathMenu_.reset(::LoadMenuA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_QUARANTINE_MENU)));
    updateButton_.Attach(Item(IDC_CHECK_DEFINITIONS).Handle(), IDI_CHECK_DEFINITIONS);
    pluginButton_.Attach(Item(IDC_OPEN_PLUGIN_MANAGER).Handle(), IDI_PLUGIN_MANAGER);
    restoreButton_.Attach(Item(IDC_RESTORE).Handle(), IDI_RESTORE);
    deleteButton_.Attach(Item(IDC_DELETE).Handle(), IDI_DELETE);
    quarantine_.Refresh();
    return true;
}

void COptions2::ShowQuarantine() {
    Item(IDC_DEFINITIONS_DATE).SetText(quarantine_.DefinitionsDate().c_str());
    CWindow list = Item(IDC_QUARANTINE_LIST);
    list.Send(LB_RESETCONTENT);
    for (const std::string& name : quarantine_.Files())
        list.Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

bool COptions2::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    switch (id) {
    case IDC_CHECK_DEFINITIONS:
        CheckForDefinitions();
        return true;
    case IDC_OPEN_PLUGIN_MANAGER:
        OpenPluginManager();
        return true;
    case IDC_RESTORE:
        RestoreSelected();
        return true;
    case IDC_DELETE:
        DeleteSelected();
        return true;
    default:
        return false;
    }
}

void COptions2::CheckForDefinitions() {
    // The update client takes "no date stored" as an empty text, not as the placeholder.
    const std::string& date = quarantine_.DefinitionsDate();
    RunUpdate(date == kUnknownDate ? "" : date.c_str());
}

void COptions2::OpenPluginManager() {
    PluginManagerDialog dialog;
    dialog.DoModal(hwnd_);
}

void COptions2::RestoreSelected() {
    bool stopAsking = false;
    quarantine_.Restore(Selection(), [&](UINT question) { return Ask(question, stopAsking); });
    // A Cancel ends without the refresh that would take the new setting, yet the user
    // said not to be asked again.
    if (stopAsking) quarantine_.Refresh();
}

void COptions2::DeleteSelected() {
    bool stopAsking = false;
    quarantine_.Delete(Selection(), [&](UINT question) { return Ask(question, stopAsking); });
    if (stopAsking) quarantine_.Refresh();
}

bool COptions2::Ask(UINT question, bool& stopAsking) {
    INT_PTR answer;
    {
        ConfirmDialog dialog(question);
        answer = dialog.DoModal(hwnd_);
        stopAsking = dialog.DontAskAgain();
    }  // the box's setting is written as the dialog goes
    return answer == IDOK;
}

std::vector<std::string> COptions2::Selection() const {
    std::vector<std::string> names;
    CWindow list = Item(IDC_QUARANTINE_LIST);
    LRESULT count = list.Send(LB_GETSELCOUNT);
    if (count <= 0) return names;
    std::vector<int> indices(static_cast<std::size_t>(count));
    count = list.Send(LB_GETSELITEMS, indices.size(), reinterpret_cast<LPARAM>(indices.data()));
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = list.Send(LB_GETTEXTLEN, indices[i]);
        if (length < 0) continue;
        std::string name(static_cast<std::size_t>(length) + 1, '\0');
        length = list.Send(LB_GETTEXT, indices[i], reinterpret_cast<LPARAM>(&name[0]));
        name.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        names.push_back(name);
    }
    return names;
}

void COptions2::OnShow(bool shown) {
    if (shown) quarantine_.Refresh();
}

INT_PTR COptions2::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CONTEXTMENU && reinterpret_cast<HWND>(wParam) == Item(IDC_QUARANTINE_LIST).Handle()) {
        ShowFormerPath(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return TRUE;
    }
    return CPropertyPageBase::HandleMessage(message, wParam, lParam);
}

void COptions2::ShowFormerPath(POINT screen) {
    // The keyboard's menu key gives no pointer position, and the menu belongs to the pointer.
    if (screen.x == -1 && screen.y == -1) return;
    CWindow list = Item(IDC_QUARANTINE_LIST);
    POINT client = screen;
    ::ScreenToClient(list.Handle(), &client);
    LRESULT hit = list.Send(LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y));
    if (HIWORD(hit) != 0) return;  // outside every item
    int index = LOWORD(hit);
    LRESULT length = list.Send(LB_GETTEXTLEN, index);
    if (length < 0 || !formerPathMenu_) return;
    std::string name(static_cast<std::size_t>(length) + 1, '\0');
    length = list.Send(LB_GETTEXT, index, reinterpret_cast<LPARAM>(&name[0]));
    name.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    std::string from = QuarantinedFrom(quarantine_.Folder() + "\\" + name);
    HMENU popup = ::GetSubMenu(formerPathMenu_.get(), 0);
    ::ModifyMenuA(popup, 0, MF_BYPOSITION | MF_STRING, ID_QUARANTINE_FORMER_PATH, from.c_str());
    // Choosing the entry does nothing: it only names the place.
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, screen.x, screen.y, 0, hwnd_, nullptr);
}

void COptions2::OnDestroy() {
    formerPathMenu_.reset();
    updateButton_.Detach();
    pluginButton_.Detach();
    restoreButton_.Detach();
    deleteButton_.Detach();
}

}  // namespace tolvane

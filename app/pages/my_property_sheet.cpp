#include "my_property_sheet.h"

#include "privacy_page.h"
#include "resource.h"
#include "settings/install_directory.h"
#include "status_page.h"
#include "ui/message_box.h"

#include <commctrl.h>

namespace tolvane {

namespace {

// The sheet being created; its callback carries no data of its own.
thread_local CMyPropertySheet* g_creating = nullptr;
constexpr UINT_PTR kSheetSubclassId = 0x5EE7;
// The system's id of a property sheet's Apply button, which no header names.
constexpr int kApplyButton = 0x3021;

}  // namespace

CMyPropertySheet::CMyPropertySheet(IScanEngine* scanEngine, IPrivacyEngine* privacyEngine, UINT captionId,
                                   HWND parent, UINT firstPage)
    : privacyEngine_(privacyEngine), captionId_(captionId), parent_(parent), firstPage_(firstPage) {
    auto detect = std::make_unique<CTolvaneDlg>(scanEngine);
    detectPage_ = detect.get();
    pages_.push_back(std::move(detect));
    // Further pages in tab order: Privacy Control (only with a privacy engine), Options,
    // Program Status and Updates.
    if (privacyEngine_) pages_.push_back(std::make_unique<CPrivacyOptions>(privacyEngine_));

    auto options = std::make_unique<COptions>();
    optionsPage_ = options.get();
    pages_.push_back(std::move(options));

    // Program Status and Updates, the last page.
    pages_.push_back(std::make_unique<COptions2>(QuarantineFolder(InstallDirectory())));
}

INT_PTR CMyPropertySheet::DoModal(HWND owner) {
    // Registered here rather than at start: the program starts into the tray, and most
    // starts never open the main window.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);
    std::vector<HPROPSHEETPAGE> handles;
    for (auto& page : pages_) {
        PROPSHEETPAGEA record = page->PageRecord();
        if (HPROPSHEETPAGE handle = ::CreatePropertySheetPageA(&record)) handles.push_back(handle);
    }
    std::string caption = LoadMessage(captionId_);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    // With a Help button the system lays out four buttons; the sheet takes over the
    // places of Help and Apply for "Quit" and "Hide Window".
    header.dwFlags = PSH_USECALLBACK | PSH_HASHELP;
    header.hwndParent = owner ? owner : parent_;
    header.hInstance = ::GetModuleHandleA(nullptr);
    header.pszCaption = caption.c_str();
    header.nPages = static_cast<UINT>(handles.size());
    header.nStartPage = firstPage_ < handles.size() ? firstPage_ : 0;
    header.phpage = handles.data();
    header.pfnCallback = SheetCallback;
    quitChosen_ = false;
    g_creating = this;
    INT_PTR result = ::PropertySheetA(&header);
    g_creating = nullptr;
    hwnd_ = nullptr;
    if (result < 0) return -1;
    return quitChosen_ ? IDOK : IDCANCEL;
}

int CALLBACK CMyPropertySheet::SheetCallback(HWND sheet, UINT message, LPARAM lParam) {
    if (message == PSCB_INITIALIZED && g_creating) g_creating->OnInitialized(sheet);
    return 0;
}

void CMyPropertySheet::OnInitialized(HWND sheet) {
    hwnd_ = sheet;
    CWindow window(sheet);
    window.Send(WM_SETICON, ICON_SMALL,
                reinterpret_cast<LPARAM>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                                      IMAGE_ICON, 16, 16, LR_SHARED)));
    CWindow help = window.Item(IDHELP), apply = window.Item(kApplyButton);
    CWindow ok = window.Item(IDOK), cancel = window.Item(IDCANCEL);
    RECT helpRect = help.RectInParent();
    help.Show(SW_HIDE);
    ok.SetText("Quit");
    ok.Move(helpRect);
    RECT applyRect = apply.RectInParent();
    apply.Show(SW_HIDE);
    applyRect.left -= 30;
    cancel.SetText("Hide Window");
    cancel.Move(applyRect);
    quitButton_.Attach(ok.Handle(), IDI_QUIT);
    hideButton_.Attach(cancel.Handle(), IDI_HIDE_WINDOW);
    ::SetWindowSubclass(sheet, SheetSubclass, kSheetSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK CMyPropertySheet::SheetSubclass(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam,
                                                 UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<CMyPropertySheet*>(data);
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED) self->quitChosen_ = true;
        break;
    case WM_DRAWITEM:
        // The sheet's own buttons are drawn here; the system's sheet would leave them blank.
        if (CIconButton::DrawFromParent(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam))) return TRUE;
        break;
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(sheet, SheetSubclass, id);
        self->quitButton_.Detach();
        self->hideButton_.Detach();
        break;
    }
    return ::DefSubclassProc(sheet, message, wParam, lParam);
}

}  // namespace tolvane

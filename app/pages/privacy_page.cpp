#include "privacy_page.h"

#include "detect_page.h"
#include "resource.h"
#include "ui/message_box.h"

namespace tolvane {

std::string PrivacyResultsText(bool found, const std::vector<std::string>& names) {
    if (!found) return LoadMessage(IDS_PRIVACY_NONE_FOUND);
    std::string text = LoadMessage(IDS_PRIVACY_FOUND);
    for (const std::string& name : names) text += "\t" + name + "\n";
    return text;
}

CPrivacyOptions::CPrivacyOptions(IPrivacyEngine* engine) : CPropertyPageBase(IDD_PRIVACY_PAGE), engine_(engine) {}

bool CPrivacyOptions::OnInit() {
    checkButton_.Attach(Item(IDC_RUN_PRIVACY_CHECK).Handle(), IDI_PRIVACY_CHECK);
    return true;
}

bool CPrivacyOptions::OnCommand(int id, int code, HWND control) {
    if (id != IDC_RUN_PRIVACY_CHECK || code != BN_CLICKED) return false;
    RunPrivacyCheck();
    return true;
}

void CPrivacyOptions::RunPrivacyCheck() {
    // The check blocks the window; the old report must not stand while it runs.
    ShowTexts("", "");
    names_.clear();
    if (!engine_) {
        ShowMessage(IDS_UNSPECIFIED_ERROR);
        return;
    }
    long found = 0;
    bool scanned = SUCCEEDED(engine_->Scan(&found));
    if (!scanned) ShowScanError();
    if (found) {
        ReadNames();
        ShowTexts(PrivacyResultsText(true, names_), LoadMessage(IDS_PRIVACY_NOTICE));
    } else if (scanned) {
        ShowTexts(PrivacyResultsText(false, names_), "");
    }
    // A scan that failed without finding anything has not shown the machine clean, so
    // the page does not say it is.
    engine_->Close();
}

void CPrivacyOptions::ReadNames() {
    VARIANT list;
    ::VariantInit(&list);
    if (SUCCEEDED(engine_->get_ProcessList(&list))) names_ = ResultRows(list);
    ::VariantClear(&list);
}

void CPrivacyOptions::ShowScanError() {
    unsigned long code = 0;
    std::string text;
    if (SUCCEEDED(engine_->get_LastError(&code))) text = LoadMessage(code);
    // A code without a text would leave the user an empty box and no hint that it failed.
    if (text.empty()) text = LoadMessage(IDS_UNSPECIFIED_ERROR);
    ShowText(text, MB_OK | MB_ICONEXCLAMATION);
}

void CPrivacyOptions::ShowTexts(const std::string& results, const std::string& notice) {
    Item(IDC_PRIVACY_RESULTS).SetText(results.c_str());
    Item(IDC_PRIVACY_NOTICE).SetText(notice.c_str());
    ::UpdateWindow(hwnd_);
}

void CPrivacyOptions::OnDestroy() { checkButton_.Detach(); }

}  // namespace tolvane

// "Privacy Control": the page that runs the privacy engine on demand and names the
// monitoring or remote-administration programs it found, under a notice that they are
// not trojans.
#pragma once

#include "ui/icon_button.h"
#include "ui/property_page_base.h"

#include "hyseng32.h"

#include <string>
#include <vector>

namespace tolvane {

// The results area for a check: the heading followed by a tab, the name and a line feed
// for every name; or, when nothing was found, the clean report alone.
std::string PrivacyResultsText(bool found, const std::vector<std::string>& names);

class CPrivacyOptions : public CPropertyPageBase {
public:
    // The engine is the main frame's, which creates, initialises and releases it.
    explicit CPrivacyOptions(IPrivacyEngine* engine);

    // The button's work: one Scan, ProcessList, Close cycle on the engine.
    void RunPrivacyCheck();
    const std::vector<std::string>& Names() const { return names_; }

protected:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnDestroy() override;

private:
    void ShowTexts(const std::string& results, const std::string& notice);
    void ReadNames();
    void ShowScanError();

    IPrivacyEngine* engine_;
    CIconButton checkButton_;
    std::vector<std::string> names_;
};

}  // namespace tolvane

// "Detect/Remove": the page where the user runs the scan engine's detection, sees what
// it found and has it removed.
#pragma once

#include "ui/icon_button.h"
#include "ui/property_page_base.h"
#include "unique_handle.h"

#include "kwreng32.h"

#include <array>
#include <string>
#include <vector>

namespace tolvane {

// 1 while an automatic or timed scan has found trojans and its engine run is still open
// for the removal; -1 otherwise.
extern int detectionPending;

// A row of the engine's ProcessList: type, file and registry entry, split at the first
// two "**KWR**". Parts that are missing stay empty; the third keeps any further separator.
std::array<std::string, 3> SplitResultRow(const std::string& row);
// The engine's ProcessList (a SAFEARRAY of BSTR) as ANSI strings, at most 519 characters
// each; empty when the variant holds anything else.
std::vector<std::string> ResultRows(const VARIANT& list);

class CTolvaneDlg : public CPropertyPageBase {
public:
    explicit CTolvaneDlg(IScanEngine* engine);

    bool ResultsShown() const { return resultsShown_; }
    int RowCount() const { return rowCount_; }

    // The buttons' work, also reached by Alt+D and Alt+R.
    void Detect();
    void Remove();

protected:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnShow(bool shown) override;
    bool OnPaint() override;
    void OnDestroy() override;

private:
    void ClearResults();
    void FillResults();
    void ShowPendingResults();
    // The message the engine's LastError names, with an OK button.
    void ShowEngineError();

    IScanEngine* engine_;  // the main frame's, which outlives the sheet
    CIconButton detectButton_;
    CIconButton removeButton_;
    int rowCount_ = 0;
    bool resultsShown_ = false;
    unique_hicon icon_;
};

}  // namespace tolvane

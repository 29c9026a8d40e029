#include "detect_page.h"

#include "resource.h"
#include "settings/app_globals.h"
#include "shell_hooks.h"
#include "ui/message_box.h"

#include <commctrl.h>

#include <algorithm>

namespace tolvane {

int detectionPending = -1;

namespace {

const char kSeparator[] = "**KWR**";
constexpr std::size_t kSeparatorLength = sizeof kSeparator - 1;
// The engine's rows are converted through a buffer of this many bytes.
constexpr std::size_t kRowBytes = 520;

struct Column {
    const char* header;
    int width;
};
const Column kColumns[] = {{"Type", 66}, {"Process Name", 263}, {"Registry Entry", 192}};

void InsertColumns(HWND list) {
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<char*>(kColumns[i].header);
        column.iSubItem = i;
        ::SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    if (column == 0) ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    else ::SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

// A row longer than the buffer is cut at a character boundary: the conversion itself
// converts nothing when the whole text does not fit, which showed the row as empty cells.
std::string RowText(BSTR element) {
    if (!element) return {};
    int wide = static_cast<int>(::SysStringLen(element));
    int length = ::WideCharToMultiByte(CP_ACP, 0, element, wide, nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? length : 0, '\0');
    if (length > 0) ::WideCharToMultiByte(CP_ACP, 0, element, wide, &text[0], length, nullptr, nullptr);
    std::size_t cut = 0;
    while (cut < text.size()) {
        std::size_t next = cut + (::IsDBCSLeadByte(static_cast<BYTE>(text[cut])) ? 2 : 1);
        if (next > kRowBytes - 1) break;
        cut = next;
    }
    text.resize(std::min(cut, text.size()));
    return text;
}

}  // namespace

std::array<std::string, 3> SplitResultRow(const std::string& row) {
    std::array<std::string, 3> parts;
    std::size_t first = row.find(kSeparator);
    parts[0] = row.substr(0, first);
    if (first == std::string::npos) return parts;
    std::size_t restStart = first + kSeparatorLength;
    std::size_t second = row.find(kSeparator, restStart);
    parts[1] = row.substr(restStart, second == std::string::npos ? std::string::npos : second - restStart);
    if (second != std::string::npos) parts[2] = row.substr(second + kSeparatorLength);
    return parts;
}

std::vector<std::string> ResultRows(const VARIANT& list) {
    std::vector<std::string> rows;
    if (V_VT(&list) != (VT_ARRAY | VT_BSTR) || !V_ARRAY(&list) || ::SafeArrayGetDim(V_ARRAY(&list)) != 1)
        return rows;
    SAFEARRAY* array = V_ARRAY(&list);
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(array, 1, &lower);
    ::SafeArrayGetUBound(array, 1, &upper);
    BSTR* elements = nullptr;
    if (FAILED(::SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) return rows;
    for (LONG i = 0; i <= upper - lower; ++i) rows.push_back(RowText(elements[i]));
    ::SafeArrayUnaccessData(array);
    return rows;
}

CTolvaneDlg::CTolvaneDlg(IScanEngine* engine)
    : CPropertyPageBase(IDD_DETECT_PAGE),
      engine_(engine),
      icon_(::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

bool CTolvaneDlg::OnInit() {
    HWND list = Item(IDC_RESULT_LIST).Handle();
    ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    InsertColumns(list);
    detectButton_.Attach(Item(IDC_DETECT).Handle(), IDI_DETECT);
    removeButton_.Attach(Item(IDC_REMOVE).Handle(), IDI_REMOVE);
    rowCount_ = 0;
    return true;
}

bool CTolvaneDlg::OnCommand(int id, int code, HWND control) {
    if (code != BN_CLICKED) return false;
    if (id == IDC_DETECT) Detect();
    else if (id == IDC_REMOVE) Remove();
    else return false;
    return true;
}

void CTolvaneDlg::Detect() {
    Item(IDC_REMOVE).Enable(false);
    ClearResults();
    if (FAILED(engine_->Init(Settings().LoggingEnabled, Settings().SilentMode))) {
        ShowEngineError();
        engine_->Close();
        return;
    }
    long found = 0;
    if (FAILED(engine_->DetectOrx(&found))) {
        ShowEngineError();
        engine_->Close();
        return;
    }
    if (!found) {
        // Asked for by the user, so shown even in silent mode.
        ShowMessage(IDS_NO_TROJANS, UINT{MB_OK | MB_ICONINFORMATION});
        engine_->Close();
        return;
    }
    if (Settings().AdminAlert) StartAdminAlert();
    resultsShown_ = true;
    FillResults();
    Item(IDC_DETECT).Enable(false);
    Item(IDC_REMOVE).Enable(true);
}

void CTolvaneDlg::Remove() {
    // A failed call may leave the flag unset: only a call that returns with the flag set
    // counts as a removal.
    long removed = 0;
    bool succeeded = SUCCEEDED(engine_->RemoveOrx(&removed)) && removed != 0;
    Item(IDC_REMOVE).Enable(false);
    Item(IDC_FOUND_LABEL).Enable(false);
    ClearResults();
    engine_->Close();
    Item(IDC_DETECT).Enable(true);
    // The run is closed after errors too, so nothing is left for the page to close later.
    resultsShown_ = false;
    ShowMessage(succeeded ? IDS_REMOVAL_SUCCEEDED : IDS_REMOVAL_ERRORS);
    detectionPending = -1;
}

void CTolvaneDlg::ClearResults() {
    CWindow list = Item(IDC_RESULT_LIST);
    list.Enable(false);
    list.Send(LVM_DELETEALLITEMS);
    rowCount_ = 0;
}

void CTolvaneDlg::FillResults() {
    CWindow list = Item(IDC_RESULT_LIST);
    list.Enable(true);
    Item(IDC_FOUND_LABEL).Enable(true);
    VARIANT rows;
    ::VariantInit(&rows);
    if (SUCCEEDED(engine_->get_ProcessList(&rows))) {
        for (const std::string& row : ResultRows(rows)) {
            std::array<std::string, 3> parts = SplitResultRow(row);
            for (int column = 0; column < 3; ++column) SetCell(list.Handle(), rowCount_, column, parts[column]);
            ++rowCount_;
        }
    }
    ::VariantClear(&rows);
}

void CTolvaneDlg::ShowPendingResults() {
    resultsShown_ = true;
    Item(IDC_REMOVE).Enable(false);
    ClearResults();
    FillResults();
    Item(IDC_DETECT).Enable(false);
    Item(IDC_REMOVE).Enable(true);
}

void CTolvaneDlg::OnShow(bool shown) {
    if (detectionPending == 1) ShowPendingResults();
}

void CTolvaneDlg::ShowEngineError() {
    unsigned long code = 0;
    std::string text;
    if (SUCCEEDED(engine_->get_LastError(&code))) text = LoadMessage(code);
    // A code without a text would leave the user an empty box and no hint that it failed.
    if (text.empty()) text = LoadMessage(IDS_UNSPECIFIED_ERROR);
    ShowText(text, MB_OK | MB_ICONEXCLAMATION);
}

bool CTolvaneDlg::OnPaint() {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd_, &paint);
    // The logo's four shades follow the user's colour scheme.
    unique_gdi logo(::CreateMappedBitmap(::GetModuleHandleA(nullptr), IDB_LOGO, 0, nullptr, 0));
    if (logo) {
        RECT holder = Item(IDC_LOGO_HOLDER).WindowRect();
        HDC memory = ::CreateCompatibleDC(dc);
        HGDIOBJ previous = ::SelectObject(memory, logo.get());
        ::BitBlt(dc, 390, 27, holder.right - holder.left, holder.bottom - holder.top, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, previous);
        ::DeleteDC(memory);
    }
    ::EndPaint(hwnd_, &paint);
    return true;
}

void CTolvaneDlg::OnDestroy() {
    if (resultsShown_) {
        engine_->Close();
        resultsShown_ = false;
    }
    detectButton_.Detach();
    removeButton_.Detach();
}

}  // namespace tolvane

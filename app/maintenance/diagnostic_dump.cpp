#include "diagnostic_dump.h"

#include "hyseng32.h"
#include "kwreng32.h"
#include "settings/settings_store.h"
#include "unique_handle.h"

#include <objbase.h>

#include <string>

namespace tolvane {

const char kDiagnosticFile[] = "c:\\kwrinfo.bin";

namespace {

void CheckClass(REFCLSID clsid, REFIID iid, std::int32_t& created, std::int32_t& result) {
    IUnknown* object = nullptr;
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object));
    if (SUCCEEDED(hr) && object) object->Release();
    created = SUCCEEDED(hr) ? 1 : 0;
    result = static_cast<std::int32_t>(hr);
}

bool WriteWhole(const std::string& path, const void* bytes, DWORD size) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file) return false;
    DWORD written = 0;
    bool whole = ::WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
    file.reset();
    if (!whole) ::DeleteFileA(path.c_str());
    return whole;
}

// Windows 9x has no MoveFileEx: there the old file goes first.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    ::DeleteFileA(to.c_str());
    return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

}  // namespace

DiagnosticRecord CollectDiagnostics() {
    DiagnosticRecord record{};
    LoadSettings(record.settings);
    LoadEngineVersion(record.engine);
    ComCheckRecord& check = record.comCheck;
    CheckClass(CLSID_ScanEngine, IID_IScanEngine, check.scanEngineCreated, check.scanEngineResult);
    CheckClass(CLSID_PrivacyEngine, IID_IPrivacyEngine, check.privacyEngineCreated, check.privacyEngineResult);
    CheckClass(CLSID_Email, IID_IEmail, check.emailCreated, check.emailResult);
    return record;
}

bool DiagnosticDump() {
    DiagnosticRecord record = CollectDiagnostics();
    // A file cut short by a full disk would mislead whoever reads it: the new one is
    // written beside it and takes its place only when complete.
    std::string temporary = std::string(kDiagnosticFile) + ".tmp";
    if (!WriteWhole(temporary, &record, sizeof record)) return false;
    if (MoveIntoPlace(temporary, kDiagnosticFile)) return true;
    ::DeleteFileA(temporary.c_str());
    return false;
}

}  // namespace tolvane

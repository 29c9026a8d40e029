#include "scan_engine.h"

#include "bstr_text.h"
#include "crc32.h"
#include "detectors/create_detector.h"
#include "engine_codes.h"
#include "log_texts.h"
#include "text_compare.h"
#include "resource.h"
#include "signature_loader.h"
#include "unique_handle.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace tolvane {
namespace {

constexpr char kProductKey[] = "SOFTWARE\\Ostrimark\\Tolvane";
constexpr char kEngineKey[] = "SOFTWARE\\Ostrimark\\Tolvane\\Engine";
constexpr char kVersionKey[] = "SOFTWARE\\Ostrimark\\Tolvane\\3.5";
constexpr std::size_t kPathBytes = MAX_PATH;
// ProcessList rows show at most this much of a path; the log shows it whole.
constexpr std::size_t kRowPathChars = 130;

INT_PTR CALLBACK WaitWindowProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

bool IsWindowsNt() { return (::GetVersion() & 0x80000000u) == 0; }

// No exception leaves the module: the caller sees an HRESULT, as COM requires.
HRESULT CurrentExceptionToHresult() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace

std::string ReadInstallFolder() {
    char path[kPathBytes] = {};
    bool haveValue = false;
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVersionKey, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS) {
        DWORD size = sizeof path;
        DWORD type = 0;
        haveValue = ::RegQueryValueExA(key.get(), "Path", nullptr, &type,
                                       reinterpret_cast<BYTE*>(path), &size) == ERROR_SUCCESS;
        // A path of 259 characters fills the buffer with its terminator; a value that
        // fills it without one cannot be used as text.
        if (haveValue && size == sizeof path && path[size - 1] != 0) haveValue = false;
        if (!haveValue)
            path[0] = 0;
        else if (size < sizeof path)
            path[size] = 0;
    }
    if (!haveValue) {
        DWORD n = ::GetCurrentDirectoryA(sizeof path, path);
        if (n == 0 || n >= sizeof path) path[0] = 0;
    }
    std::string folder = path;
    std::size_t slash = folder.find_last_of('\\');
    if (slash != std::string::npos) folder.resize(slash);
    return folder;
}

void ScanEngine::CreateRunObjects() {
    if (processPaths_ && signatures_ && inspector_) return;
    if (!processPaths_) processPaths_ = std::make_unique<std::vector<std::string>>();
    if (!signatures_) signatures_ = std::make_unique<SignatureTable>();
    CreateInspector();
}

void ScanEngine::CloseLog() {
    if (!log_) return;
    log_->Finish();
    log_.reset();
}

STDMETHODIMP ScanEngine::Init(long bLog, long bSilent) try {
    runOpen_ = true;
    CreateRunObjects();
    // A second Init replaces the log; the first one gets no end line.
    log_ = std::make_unique<ScanLog>(bLog != 0);
    silent_ = bSilent != 0;
    lastError_ = LoadSignatures();
    if (lastError_ != kCodeSuccess) return E_FAIL;
    lastError_ = WriteDefsDate();
    return lastError_ == kCodeSuccess ? S_OK : E_FAIL;
} catch (...) {
    return CurrentExceptionToHresult();
}

STDMETHODIMP ScanEngine::Close() try {
    CloseLog();
    found_ = false;
    lastError_ = kCodeSuccess;
    if (processPaths_) processPaths_->clear();
    detectors_.clear();
    runOpen_ = false;
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

DWORD ScanEngine::LoadSignatures() {
    if (signaturesLoaded_) return kCodeSuccess;
    std::string path = installFolder_ + "\\tsigs.kws";
    unique_file file = OpenSignatureFile(path.c_str());
    if (!file) return kCodeSignatureMissing;
    DWORD code = ReadSignatureEntries(file.get(), header_, *signatures_);
    if (code == kCodeSuccess) signaturesLoaded_ = true;
    return code;
}

DWORD ScanEngine::WriteDefsDate() {
    char date[kDefsDateValueBytes];
    FormatDefsDate(header_, date);
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEngineKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS &&
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return kCodeUnspecified;
    if (::RegSetValueExA(key.get(), "VirusDefsDate", 0, REG_SZ, reinterpret_cast<const BYTE*>(date),
                         sizeof date) != ERROR_SUCCESS)
        return kCodeUnspecified;
    return kCodeSuccess;
}

STDMETHODIMP ScanEngine::LoadNewDefs() try {
    if (!runOpen_) return E_FAIL;
    signatures_->Clear();
    signaturesLoaded_ = false;
    lastError_ = LoadSignatures();
    return lastError_ == kCodeSuccess ? S_OK : E_FAIL;
} catch (...) {
    return CurrentExceptionToHresult();
}

bool ScanEngine::IsListedDetector(const char* path) const {
    for (const auto& detector : detectors_)
        if (EqualIgnoringCase(detector->FilePath(), path)) return true;
    return false;
}

HRESULT ScanEngine::CheckFile(const char* path, unsigned long* code) try {
    if (!runOpen_) return E_FAIL;
    if (IsListedDetector(path)) return S_OK;
    *code = kCodeSuccess;
    unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        if (!autostartScanRunning_ && log_) {
            log_->Write(log_text::kFileErrorLead);
            log_->Write(path);
            log_->Write(log_text::kFileErrorTail);
        }
        return S_OK;
    }
    // Only a file on disk has a first 500 bytes to fingerprint; a Run entry naming a
    // pipe or a device would otherwise hold the scan until its other end writes.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) return S_OK;
    unsigned char head[kFingerprintBytes];
    DWORD got = 0;
    if (!ReadFully(file.get(), head, sizeof head, got) || got < sizeof head) return S_OK;
    DWORD typeIndex = signatures_->Lookup(Crc32(head, sizeof head));
    if (shellExtensionMode_) return S_OK;
    DetectorContext context{inspector_.get()};
    switch (CreateDetector(typeIndex, file.get(), path, detectors_, context)) {
    case DetectorOutcome::NoMemory:
        *code = kCodeNoMemory;
        return E_FAIL;
    case DetectorOutcome::Created:
        *code = kCodeSuccess;
        return S_OK;
    case DetectorOutcome::NotDue:
        return S_OK;
    }
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

STDMETHODIMP ScanEngine::ScanFile(BSTR bstrFileName, unsigned long* pErrorInfo) try {
    if (!runOpen_) return E_FAIL;
    if (!pErrorInfo) return E_POINTER;
    std::string path = ToAnsi(bstrFileName);
    if (path.size() >= kPathBytes) path.resize(kPathBytes - 1);
    return CheckFile(path.c_str(), pErrorInfo);
} catch (...) {
    return CurrentExceptionToHresult();
}

STDMETHODIMP ScanEngine::DetectOrx(long* pVal) try {
    if (!runOpen_) return E_FAIL;
    if (!pVal) return E_POINTER;
    if (!ListRunningProcesses()) {
        lastError_ = kCodeProcessListFailed;
        return E_FAIL;
    }
    lastError_ = kCodeSuccess;
    unique_hwnd waitWindow;
    if (!silent_)
        waitWindow.reset(::CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_WAIT),
                                              ::GetDesktopWindow(), WaitWindowProc, 0));
    bool stopped = false;
    while (!processPaths_->empty()) {
        if (FAILED(CheckFile(processPaths_->front().c_str(), &lastError_))) {
            stopped = true;
            break;
        }
        processPaths_->erase(processPaths_->begin());
    }
    if (!stopped && IsWindowsNt()) RunAutostartScan();
    waitWindow.reset();
    if (!detectors_.empty()) found_ = true;
    if (lastError_ != kCodeSuccess) return E_FAIL;
    if (found_)
        WriteDetectionReport();
    else if (log_)
        log_->Write(log_text::kNoneFound);
    *pVal = found_ ? 1 : 0;
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

void ScanEngine::WriteDetectionReport() {
    if (!log_) return;
    log_->Write(log_text::kDetectionBanner);
    if (detectors_.empty()) return;
    log_->Write(log_text::kFound);
    log_->Write(log_text::kColumnHeads);
    for (const auto& detector : detectors_) {
        std::string entry;
        detector->GetRegistryEntry(entry);
        std::string type = detector->GetTypeName(true);
        std::vector<char> row(std::strlen(log_text::kRowFormat) + type.size() + entry.size() +
                              detector->FilePath().size() + 1);
        std::snprintf(row.data(), row.size(), log_text::kRowFormat, type.c_str(), entry.c_str(),
                      detector->FilePath().c_str());
        log_->Write(log_text::kRowPrefix);
        log_->Write(row.data());
    }
}

STDMETHODIMP ScanEngine::RemoveOrx(long* pVal) try {
    if (!runOpen_) return E_FAIL;
    if (!pVal) return E_POINTER;
    if (log_) log_->Write(log_text::kRemovalBanner);
    for (const auto& detector : detectors_) {
        if (!detector->Remove()) {
            *pVal = 0;
            return S_FALSE;
        }
    }
    if (log_) {
        log_->Write(log_text::kRemoved1);
        log_->Write(log_text::kRemoved2);
        log_->Write(log_text::kRemoved3);
    }
    *pVal = 1;
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

STDMETHODIMP ScanEngine::get_ProcessList(VARIANT* pVal) try {
    if (!runOpen_) return E_FAIL;
    if (!pVal) return E_POINTER;
    ::VariantInit(pVal);
    SAFEARRAY* rows = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(detectors_.size()));
    if (!rows) return E_OUTOFMEMORY;
    LONG index = 0;
    for (const auto& detector : detectors_) {
        std::string entry;
        detector->GetRegistryEntry(entry);
        std::string path = detector->FilePath();
        if (path.size() >= kRowPathChars) path.resize(kRowPathChars);
        unique_bstr row(ToBstr(detector->GetTypeName(false) + path + kTypeSeparator + entry));
        if (!row || FAILED(::SafeArrayPutElement(rows, &index, row.get()))) {
            ::SafeArrayDestroy(rows);
            return E_OUTOFMEMORY;
        }
        ++index;
    }
    V_VT(pVal) = VT_ARRAY | VT_BSTR;
    V_ARRAY(pVal) = rows;
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

STDMETHODIMP ScanEngine::put_Logging(long newVal) {
    if (log_) log_->SetEnabled(newVal != 0);
    return S_OK;
}

STDMETHODIMP ScanEngine::put_Silent(long newVal) {
    silent_ = newVal != 0;
    return S_OK;
}

STDMETHODIMP ScanEngine::get_LastError(unsigned long* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = lastError_;
    return S_OK;
}

STDMETHODIMP ScanEngine::ScanSelection(unsigned long*, unsigned long*, unsigned long* pdwResult) {
    // The selection arrives as a raw address that only an in-process caller could
    // hand over; nothing is examined here, the shell extension scans through ScanFile.
    if (!pdwResult) return E_POINTER;
    *pdwResult = 1;
    return S_OK;
}

STDMETHODIMP ScanEngine::InitShellExtension(unsigned long* pdwLastError) try {
    runOpen_ = true;
    shellExtensionMode_ = true;
    CreateRunObjects();
    silent_ = false;
    lastError_ = LoadSignatures();
    if (lastError_ == kCodeSuccess) lastError_ = WriteDefsDate();
    if (lastError_ != kCodeSuccess) {
        if (pdwLastError) *pdwLastError = lastError_;
        return E_FAIL;
    }
    return S_OK;
} catch (...) {
    return CurrentExceptionToHresult();
}

}  // namespace tolvane

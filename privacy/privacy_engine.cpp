#include "privacy_engine.h"

#include "bstr_text.h"
#include "engine_codes.h"
#include "privacy_checks.h"
#include "process_inspector.h"

namespace tolvane {
namespace {

// The program makes its engines while it runs in its install folder, where psigs.kws lies.
std::string CurrentFolder() {
    char path[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryA(sizeof path, path);
    return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
}

}  // namespace

PrivacyEngine::PrivacyEngine()
    : signatureFolder_(CurrentFolder()), inspector_(std::make_unique<ProcessInspector>()) {}

PrivacyEngine::~PrivacyEngine() = default;

DWORD PrivacyEngine::LoadSignatures() {
    // A load that failed part-way leaves its records in place; reading the file again on
    // top of them would name a registry match twice in one scan.
    signatures_.Clear();
    if (signatureFolder_.empty()) return kCodeSignatureMissing;
    std::string path = signatureFolder_;
    if (path.back() != '\\') path += '\\';
    path += "psigs.kws";
    DWORD code = LoadPrivacySignatures(path.c_str(), signatures_);
    loaded_ = code == kCodeSuccess;
    return code;
}

STDMETHODIMP PrivacyEngine::Init() {
    lastError_ = loaded_ ? kCodeSuccess : LoadSignatures();
    return lastError_ == kCodeSuccess ? S_OK : E_FAIL;
}

STDMETHODIMP PrivacyEngine::LoadNewDefs() {
    loaded_ = false;
    lastError_ = LoadSignatures();
    return lastError_ == kCodeSuccess ? S_OK : E_FAIL;
}

STDMETHODIMP PrivacyEngine::Close() {
    processPaths_.clear();
    resultNames_.clear();
    lastError_ = kCodeSuccess;
    return S_OK;
}

STDMETHODIMP PrivacyEngine::Scan(long* pVal) {
    if (!pVal) return E_POINTER;
    if (!inspector_->ListProcessPaths(processPaths_)) {
        lastError_ = kCodeProcessListFailed;
        return E_FAIL;
    }
    lastError_ = CheckProcessPaths(processPaths_, signatures_.crcIndex, finding_);
    if (lastError_ != kCodeSuccess) return E_FAIL;
    CheckRegistrySignatures(signatures_.registryRecords, resultNames_);
    *pVal = !resultNames_.empty() || finding_ ? 1 : 0;
    return S_OK;
}

STDMETHODIMP PrivacyEngine::get_LastError(unsigned long* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = lastError_;
    return S_OK;
}

STDMETHODIMP PrivacyEngine::get_ProcessList(VARIANT* pVal) {
    if (!pVal) return E_POINTER;
    ::VariantInit(pVal);
    std::vector<std::string> names = resultNames_;
    if (finding_) names.push_back(finding_->GetTypeName(true));
    SAFEARRAY* array = ToBstrArray(names);
    if (!array) return E_OUTOFMEMORY;
    V_VT(pVal) = VT_ARRAY | VT_BSTR;
    V_ARRAY(pVal) = array;
    return S_OK;
}

}  // namespace tolvane

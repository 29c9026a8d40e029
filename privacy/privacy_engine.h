// The PrivacyEngine COM object: reports monitoring tools found running (by fingerprint)
// or installed (by a registry key they create), from the records of psigs.kws.
#pragma once

#include "com_module.h"
#include "hyseng32.h"
#include "monitor_finding.h"
#include "privacy_signatures.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvane {

class ProcessInspector;

class PrivacyEngine final : public DualObject<IPrivacyEngine, &IID_IPrivacyEngine> {
public:
    PrivacyEngine();

    // IUnknown

    // IPrivacyEngine
    STDMETHODIMP Init() override;
    STDMETHODIMP Close() override;
    STDMETHODIMP Scan(long* pVal) override;
    STDMETHODIMP LoadNewDefs() override;
    STDMETHODIMP get_LastError(unsigned long* pVal) override;
    STDMETHODIMP get_ProcessList(VARIANT* pVal) override;

    static HRESULT Create(REFIID riid, void** object) { return CreateComObject<PrivacyEngine>(riid, object); }

private:
    ~PrivacyEngine() override;
    DWORD LoadSignatures();

    std::string signatureFolder_;  // empty when the current directory did not fit
    bool loaded_ = false;
    PrivacySignatures signatures_;
    std::vector<std::string> processPaths_;
    std::unique_ptr<MonitorFinding> finding_;  // once made, kept for the object's life
    std::vector<std::string> resultNames_;
    DWORD lastError_ = 1;
    std::unique_ptr<ProcessInspector> inspector_;
};

}  // namespace tolvane

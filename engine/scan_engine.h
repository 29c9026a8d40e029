// The ScanEngine COM object: one engine run at a time (Init .. Close), the signature
// table, the detection and removal passes and the log.
#pragma once

#include "com_module.h"
#include "detectors/trojan_detector.h"
#include "kwreng32.h"
#include "scan_log.h"
#include "signature_file.h"
#include "signature_table.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvane {

class ProcessInspector;

class ScanEngine final
    : public DualObject<IScanEngineShellExtHelper, &IID_IScanEngineShellExtHelper, &IID_IScanEngine> {
public:
    ScanEngine();

    // IScanEngine
    STDMETHODIMP DetectOrx(long* pVal) override;
    STDMETHODIMP RemoveOrx(long* pVal) override;
    STDMETHODIMP Init(long bLog, long bSilent) override;
    STDMETHODIMP Close() override;
    STDMETHODIMP ScanFile(BSTR bstrFileName, unsigned long* pErrorInfo) override;
    STDMETHODIMP LoadNewDefs() override;
    STDMETHODIMP get_ProcessList(VARIANT* pVal) override;
    STDMETHODIMP put_Logging(long newVal) override;
    STDMETHODIMP put_Silent(long newVal) override;
    STDMETHODIMP get_LastError(unsigned long* pVal) override;

    // IScanEngineShellExtHelper
    STDMETHODIMP ScanSelection(unsigned long* pInVector, unsigned long* pOutVector,
                               unsigned long* pdwResult) override;
    STDMETHODIMP InitShellExtension(unsigned long* pdwLastError) override;

    // The check of one file, shared by ScanFile, the detection pass and the autostart scan.
    virtual HRESULT CheckFile(const char* path, unsigned long* code);

    static HRESULT Create(REFIID riid, void** object) { return CreateComObject<ScanEngine>(riid, object); }

private:
    ~ScanEngine() override;
    void CreateRunObjects();
    void CreateInspector();
    DWORD LoadSignatures();
    DWORD WriteDefsDate();
    bool IsListedDetector(const char* path) const;
    bool ListRunningProcesses();
    void RunAutostartScan();
    void WriteDetectionReport();
    void CloseLog();

    std::unique_ptr<ProcessInspector> inspector_;
    bool shellExtensionMode_ = false;
    bool signaturesLoaded_ = false;
    bool runOpen_ = false;
    bool autostartScanRunning_ = false;
    DetectorList detectors_;  // newest first
    std::unique_ptr<std::vector<std::string>> processPaths_;
    std::string installFolder_;
    SignatureFileHeader header_{};
    std::unique_ptr<SignatureTable> signatures_;
    std::unique_ptr<ScanLog> log_;
    bool silent_ = false;
    bool found_ = false;
    DWORD lastError_ = 1;
};

// HKLM\SOFTWARE\Ostrimark\Tolvane\3.5 "Path" up to its last backslash; the current
// directory's parent when the value is missing.
std::string ReadInstallFolder();

}  // namespace tolvane

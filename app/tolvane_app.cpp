#include "tolvane_app.h"

#include "maintenance/diagnostic_dump.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/install_directory.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "update/staged_engines.h"

#include <objbase.h>

namespace tolvane {

const char kInstanceMutexName[] = "{E5ADC861-A40C-11d2-8CE4-444553540000}";

namespace {

CTolvaneApp* g_app = nullptr;

}  // namespace

CTolvaneApp& TheApp() { return *g_app; }

bool IsDiagnosticArgument(const std::string& argument) {
    std::string text = argument;
    if (!text.empty() && (text[0] == '/' || text[0] == '-')) text.erase(0, 1);
    return text.size() == 1 && (text[0] == 'D' || text[0] == 'd');
}

CTolvaneApp::CTolvaneApp() {
    g_app = this;
    ::CoInitialize(nullptr);
}

CTolvaneApp::~CTolvaneApp() {
    frame_.reset();
    if (settingsLoaded_ && !cleanedUp_) SaveSettings(Settings());
    instanceMutex.reset();
    // Only now are the engine modules unloaded and free to be replaced; modules that an
    // earlier run could not put in place are tried again here too.
    ::CoUninitialize();
    if (settingsLoaded_)
        SwapStagedEngines(EnginesDownloaded ? std::optional<EngineVersion>(InstalledEngineVersion()) : std::nullopt);
    cleanedUp_ = true;
    g_app = nullptr;
}

bool CTolvaneApp::InitInstance(const std::vector<std::string>& arguments) {
    // Created owned in one call: a copy that starts at the same moment cannot slip
    // between a test for the name and its creation.
    instanceMutex.reset(::CreateMutexA(nullptr, TRUE, kInstanceMutexName));
    if (!instanceMutex || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        instanceMutex.reset();
        return false;
    }
    // Dialogs have the three-dimensional look from the system for a program marked for
    // Windows 4.0; the common controls are set up when the main window first opens
    // (CMyPropertySheet), so that a start into the tray does without comctl32.

    bool diagnostic = false;
    for (const std::string& argument : arguments) diagnostic |= IsDiagnosticArgument(argument);
    if (diagnostic && !DiagnosticDump()) ShowMessage(IDS_DIAGNOSTIC_FILE_FAILED, UINT{MB_OK});

    if (!OpenProductKey()) {
        ShowMessage(IDS_REGISTRY_KEY_FAILED);
        return false;
    }
    LoadSettings(Settings());
    LoadEngineVersion(InstalledEngineVersion());
    settingsLoaded_ = true;

    installDir = InstallDirectory();
    infectedFilesDir = installDir + "\\Infected Files";

    frame_ = std::make_unique<CMainFrame>();
    frame_->QuitOnDestroy(true);
    frame_->OnEndSession([this] { Cleanup(); });
    return frame_->Create();
}

bool CTolvaneApp::OpenProductKey() {
    unique_hkey key;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    DWORD installed = 0, size = sizeof installed;
    if (::RegQueryValueExA(key.get(), "Installed", nullptr, nullptr, reinterpret_cast<BYTE*>(&installed), &size) !=
            ERROR_SUCCESS ||
        installed != 1) {
        installed = 1;
        ::RegSetValueExA(key.get(), "Installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed),
                         sizeof installed);
        SaveSettings(Settings());
        SaveEngineVersion(InstalledEngineVersion());
    }
    return true;
}

int CTolvaneApp::Run() {
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

void CTolvaneApp::Cleanup() {
    if (cleanedUp_ || !settingsLoaded_) return;
    cleanedUp_ = true;
    SaveSettings(Settings());
    // The engines are still loaded while Windows asks, and the session may go on: the
    // swap waits for the final exit, and is recorded in case the session ends first.
    if (EnginesDownloaded) RecordStagedEngines(InstalledEngineVersion());
}

}  // namespace tolvane

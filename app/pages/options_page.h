// "Options": the page where the user edits the settings, sizes, clears and views the log,
// and sends the administrator a test message. There is no Apply step: whatever the page
// shows is written to the registry whenever it is hidden or closed.
#pragma once

#include "ui/hyperlink_control.h"
#include "ui/icon_button.h"
#include "ui/property_page_base.h"
#include "unique_handle.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tolvane {

// The interval list shows whole minutes "1" to "10"; anything else, the first-run
// default of 3 ms included, shows no choice (-1).
int IntervalIndexFor(std::int32_t scanInterval);
// No choice is stored as one minute.
std::int32_t ScanIntervalFor(int intervalIndex);
// "1000 bytes." up to 1000 bytes, then whole kilobytes: "2 Kbytes.".
std::string LogSizeText(std::uint32_t size);

enum class PortEntry { valid, notInteger, outOfRange };
// The "Port:" edit as the user left it: an integer from 0 to 65535, blanks around it allowed.
PortEntry ParsePort(const std::string& text, int& port);

// The log the engine writes into the current directory.
std::string LogFilePath();

// How "View Log" reaches the shell; tests put their own in place so that no Notepad
// starts. Returns the previous one; null puts the shell back.
using ShellOpener = void (*)(const std::string& file, const std::string& parameters);
ShellOpener SetShellOpener(ShellOpener opener);

class COptions : public CPropertyPageBase {
public:
    COptions();
    ~COptions() override;

    // The buttons' work.
    void ClearLog();
    void ViewLog();
    void SendTestMessage();
    // Waits for the test message started last, its message shown and the page updated;
    // true when none is running (any more).
    bool WaitForTestMessage(DWORD milliseconds);

protected:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnShow(bool shown) override;
    void OnDestroy() override;

private:
    // The dialog data the controls exchange with.
    struct Members {
        bool autoScan = false;
        bool silentMode = false;
        bool timedScanning = false;
        int intervalIndex = -1;
        bool loggingEnabled = false;
        std::string logSizeText;
        bool adminAlert = false;
        std::string mailTo;
        std::string alertSubject;
        std::string mailServer;
        int mailServerPort = 0;
        bool loadOnStartup = false;
        std::string versionText;
    };

    void Load();
    void Save();
    // False, after the user was told, when "Port:" holds no valid port; nothing is taken then.
    bool TakeFromControls();
    void MoveToControls();
    void RefreshLogSize();
    void EnableAdminAlertControls(bool enable);
    bool TestMessageRunning() const;
    // A test message failed: AdminAlert is switched off on the page.
    void OnTestMessageFailed();

    Members members_;
    CIconButton clearLogButton_;
    CIconButton viewLogButton_;
    CIconButton sendTestButton_;
    std::unique_ptr<HyperLinkControl> supportLink_;
    std::unique_ptr<HyperLinkControl> webLink_;
    unique_handle testThread_;
};

}  // namespace tolvane

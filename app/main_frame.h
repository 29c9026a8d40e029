// The hidden main frame: it owns the two engines and the main window for the life of the
// program, and ends the program when it is closed.
#pragma once

#include "pages/my_property_sheet.h"
#include "resource.h"
#include "tray/tray_icon.h"
#include "ui/window.h"

#include "hyseng32.h"
#include "kwreng32.h"

#include <wrl/client.h>

#include <functional>
#include <memory>

namespace tolvane {

extern const char kMainFrameClass[];

// How the frame asks the system for its scan and flash timers; tests put in one that
// refuses. Returns the previous one; null puts SetTimer back.
using TimerStarter = UINT_PTR(WINAPI*)(HWND window, UINT_PTR event, UINT milliseconds, TIMERPROC procedure);
TimerStarter SetTimerStarter(TimerStarter starter);

class CMainFrame : public CWindow {
public:
    CMainFrame() = default;
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Creates the frame hidden, with its engines and main window. A scan engine that
    // cannot be created ends the process with status -1 after saying so.
    bool Create();

    // Opens the main window modally; "Quit" closes the frame afterwards.
    void ShowMainWindow();
    // Asks whether to download signature files for the engine error id (57360 to 57362);
    // true when the caller should try the engine's Init again.
    bool AskDownloadSignatures(unsigned long id);

    // The tray's scheduling: one automatic or timed scan, and the timers behind the timed
    // scans and the flashing icon.
    void RunScan();
    UINT_PTR StartScanTimer(UINT milliseconds);
    void StopTimer(UINT_PTR timer);
    void StartFlashing();
    bool StopFlashing();
    UINT_PTR ScanTimer() const { return scanTimer_; }
    UINT_PTR FlashTimer() const { return flashTimer_; }
    const CTrayIcon& TrayIcon() const { return trayIcon_; }

    IScanEngine* ScanEngine() const { return scanEngine_.Get(); }
    IPrivacyEngine* PrivacyEngine() const { return privacyEngine_.Get(); }
    CMyPropertySheet* Sheet() const { return sheet_.get(); }
    bool QuitRequested() const { return quitRequested_; }

    // Called when Windows asks to end the session (the frame agrees); the application
    // saves its state there.
    void OnEndSession(std::function<void()> handler) { endSession_ = std::move(handler); }
    // Ends the message loop when the frame is destroyed (the program's frame does).
    void QuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnCreate();
    bool CreateParts();
    void CreatePrivacyEngine();
    // The loop that offers new signature files until the engine's Init succeeds or the
    // user or the error gives up; true when the engine is ready.
    template <class Engine, class InitCall>
    bool RecoverSignatures(Engine* engine, InitCall init);
    void OnDestroy();
    void OnTimer(UINT_PTR event);
    void RestartScanTimer();
    // The scan engine's Init for one scan, with the download offer for bad signature
    // files; false when the program is to end.
    bool InitScanEngine();
    // DetectOrx and what follows from its result; false when it failed, which leaves the
    // scan timer stopped.
    bool DetectTrojans();

    Microsoft::WRL::ComPtr<IScanEngine> scanEngine_;
    Microsoft::WRL::ComPtr<IPrivacyEngine> privacyEngine_;
    std::unique_ptr<CMyPropertySheet> sheet_;
    bool quitRequested_ = false;
    // "Exit" (or any close) came while a message loop ran below the frame; unlike "Quit",
    // opening the main window again does not take it back.
    bool closeRequested_ = false;
    bool creating_ = false;
    CTrayIcon trayIcon_{IDR_TRAY_MENU};
    UINT_PTR scanTimer_ = 0;
    UINT_PTR flashTimer_ = 0;
    bool scanInProgress_ = false;
    bool mainWindowOpen_ = false;
    bool flashPhase_ = true;
    bool quitOnDestroy_ = false;
    std::function<void()> endSession_;
};

}  // namespace tolvane

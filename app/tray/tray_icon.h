// The program's icon in the notification area: added, changed and taken out through the
// shell, with its pop-up menu, and put back when the shell restarts.
#pragma once

#include "ui/subclass_wnd.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace tolvane {

// The message number the shell broadcasts when it (re)starts its taskbar.
UINT TaskbarCreatedMessage();

// Where notify-icon requests go instead of the shell, for tests that watch them; returns
// the previous one. Null puts Shell_NotifyIconA back.
using NotifyIconCall = BOOL(WINAPI*)(DWORD request, NOTIFYICONDATAA* data);
NotifyIconCall SetNotifyIconCall(NotifyIconCall call);

class CTrayIcon {
public:
    explicit CTrayIcon(UINT id);
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // The window that receives the icon's mouse messages as `callbackMessage` and the
    // commands of its menu.
    void SetNotificationWnd(HWND window, UINT callbackMessage);
    // Adds the icon, or changes it when it is there; no icon takes it out.
    bool SetIcon(HICON icon, const char* tip = nullptr);
    // A resource icon of the program; with loadTip, the string of that number becomes the
    // tip, and id 0 takes the icon out.
    bool SetIcon(UINT iconId, bool loadTip);
    void RemoveIcon();
    // Out of the tray while the main window is open, back afterwards.
    void HideIcon();
    void ShowIcon();

    bool OnTrayNotification(WPARAM id, LPARAM mouseMessage);
    void OnTaskbarCreated();

    bool Added() const { return added_; }
    bool Hidden() const { return hidden_; }
    HICON Icon() const { return data_.hIcon; }
    std::string Tip() const { return data_.szTip; }

private:
    LRESULT OwnerMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT TopLevelMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool Request(DWORD request);

    NOTIFYICONDATAA data_{};
    bool added_ = false;
    bool hidden_ = false;
    CMemberHook<CTrayIcon> ownerHook_{*this, &CTrayIcon::OwnerMessage};
    CMemberHook<CTrayIcon> topLevelHook_{*this, &CTrayIcon::TopLevelMessage};
};

}  // namespace tolvane

// DownloadProgressDialog: the modeless window an update run shows. The update worker
// changes it from its own thread; that works because the thread that created it keeps
// dispatching messages until the worker is done.
#pragma once

#include "unique_handle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace tolvane {

class DownloadProgressDialog {
public:
    // Disables the owner (may be null) while the window lives.
    explicit DownloadProgressDialog(HWND owner);
    ~DownloadProgressDialog();
    DownloadProgressDialog(const DownloadProgressDialog&) = delete;
    DownloadProgressDialog& operator=(const DownloadProgressDialog&) = delete;

    HWND window() const { return window_.get(); }
    // True once per press of Cancel.
    bool TakeCancel() { return cancelLatch_.exchange(false); }

    void SetStatus(const char* text);
    void SetCaption(const std::string& text);
    void SetUpperBound(std::uint32_t upper) { upper_ = upper; }
    void SetPosition(std::uint32_t position);

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND owner_;
    unique_hwnd window_;
    std::atomic<bool> cancelLatch_{false};
    std::atomic<std::uint32_t> upper_{100};
    std::string shownPercent_ = " 0 %";
};

}  // namespace tolvane

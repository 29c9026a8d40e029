#include "update_client.h"

#include "resource.h"
#include "ui/message_box.h"
#include "update_version_file.h"

namespace tolvane {

namespace {

std::string WindowsDirectory() {
    char folder[MAX_PATH] = {};
    UINT length = ::GetWindowsDirectoryA(folder, sizeof folder);
    return std::string(folder, length < sizeof folder ? length : 0);
}

// Keeps the window alive until the worker is done. Waiting on the thread and the queue
// together instead of spinning: the worker needs the processor more than this loop does.
void DispatchUntilDone(UpdateRun& run, DownloadProgressDialog& dialog, HANDLE worker) {
    while (!run.done) {
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog.window() && ::IsDialogMessageA(dialog.window(), &message)) continue;
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
        if (dialog.TakeCancel()) run.cancel = 1;
        ::MsgWaitForMultipleObjects(1, &worker, FALSE, 50, QS_ALLINPUT);
    }
}

void ShowOutcome(int result) {
    switch (result) {
    case kNothingNewer: ShowMessage(IDS_UPDATE_NOT_NEEDED, UINT{MB_OK | MB_ICONINFORMATION}); break;
    case kNewerDefs:
    case kNewerEngines:
    case kNewerDefs | kNewerEngines: ShowMessage(IDS_UPDATE_DOWNLOADED, UINT{MB_OK | MB_ICONINFORMATION}); break;
    case kUpdateCanceled: ShowMessage(IDS_UPDATE_CANCELED); break;
    default: ShowMessage(IDS_UPDATE_FAILED); break;
    }
}

}  // namespace

int RunUpdate(const char* localDate, const UpdateTarget& target) {
    UpdateRun run;
    run.transfers = BuildTransferList(target.options, WindowsDirectory());
    lstrcpynA(run.localDate, localDate ? localDate : "", sizeof run.localDate);
    run.localEngine = target.engineVersion;
    run.timeoutMilliseconds = target.timeoutMilliseconds;
    run.keyFile = target.keyFile;
    {
        DownloadProgressDialog dialog(target.owner);
        run.dialog = &dialog;
        unique_handle worker(::CreateThread(nullptr, 0, UpdateWorker, &run, 0, nullptr));
        if (worker) {
            DispatchUntilDone(run, dialog, worker.get());
            ::WaitForSingleObject(worker.get(), INFINITE);
        } else {
            run.result = kUpdateFailed;
        }
        if (run.cancel) run.result = kUpdateCanceled;
    }
    int result = run.result;
    // Only with both modules staged: the version is stored at exit for the swapped modules,
    // and a run whose engine download failed must fetch them again next time.
    if (result == kNewerEngines || result == (kNewerDefs | kNewerEngines)) {
        target.enginesDownloaded = true;
        target.engineVersion = run.remoteEngine;
    }
    ShowOutcome(result);
    return result;
}

}  // namespace tolvane

#include "admin_alert.h"

#include "bstr_text.h"
#include "email_object.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <objbase.h>

#include <cstring>
#include <memory>

namespace tolvane {

namespace {

// A settings text, also when it fills its whole field without a terminating zero.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

// What one alert sends, taken on the user-interface thread before its thread starts: the
// Options page may save new settings at any moment, and a half-written field must not
// reach the mail.
struct AlertJob {
    std::string server;
    std::string to;
    std::string subject;
    std::string text;
    unsigned long port;
};

volatile LONG g_runningAlerts = 0;

void SendAlert(const AlertJob& job) {
    HRESULT joined = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(joined)) return;
    auto leave = scope_exit([] { ::CoUninitialize(); });
    unique_bstr server(ToBstr(job.server)), to(ToBstr(job.to)), subject(ToBstr(job.subject)), text(ToBstr(job.text));
    // Released before the apartment is left.
    Microsoft::WRL::ComPtr<IEmail> email;
    if (FAILED(CreateEmailObject(email)) || FAILED(email->Init(server.get(), to.get(), subject.get(), job.port)))
        return;
    // An alert that cannot be delivered has nobody to tell: the user did not ask for it,
    // and the log holds the detection.
    unsigned long status = 0;
    email->SendMail(text.get(), &status);
}

DWORD WINAPI SendAlertThread(void* argument) {
    auto ended = scope_exit([] { ::InterlockedDecrement(&g_runningAlerts); });
    std::unique_ptr<AlertJob> job(static_cast<AlertJob*>(argument));
    // Whatever goes wrong, thrown or returned, ends this alert quietly, never the program.
    try {
        SendAlert(*job);
    } catch (...) {
        return 1;
    }
    return 0;
}

}  // namespace

void StartAdminAlertThread() {
    std::unique_ptr<AlertJob> job;
    try {
        const AppSettings& settings = Settings();
        job = std::make_unique<AlertJob>(AlertJob{FieldText(settings.MailServer), FieldText(settings.MailTo),
                                                  FieldText(settings.AlertSubject), LoadMessage(IDS_ALERT_TEXT),
                                                  static_cast<unsigned long>(settings.MailServerPort)});
    } catch (...) {
        return;  // no memory for the alert: the scan's result matters more
    }
    ::InterlockedIncrement(&g_runningAlerts);
    unique_handle thread(::CreateThread(nullptr, 0, SendAlertThread, job.get(), 0, nullptr));
    if (!thread) {
        ::InterlockedDecrement(&g_runningAlerts);
        return;
    }
    job.release();  // the thread's now
}

bool WaitForAlertThreads(DWORD milliseconds) {
    DWORD start = ::GetTickCount();
    while (::InterlockedCompareExchange(&g_runningAlerts, 0, 0) != 0) {
        if (::GetTickCount() - start >= milliseconds) return false;
        ::Sleep(20);
    }
    return true;
}

}  // namespace tolvane

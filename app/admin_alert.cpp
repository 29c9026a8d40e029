#include "admin_alert.h"

#include "app_globals.h"
#include "bstr_text.h"
#include "message_box.h"
#include "resource.h"
#include "unique_handle.h"

#include "kwreng32.h"

#include <objbase.h>
#include <cstring>
#include <wrl/client.h>

namespace tolvane {

namespace {

// A settings text, also when it fills its whole field without a terminating zero.
template <std::size_t N>
BSTR FieldBstr(const char (&field)[N]) {
    return ToBstr(std::string(field, ::strnlen(field, N)));
}

volatile LONG g_runningAlerts = 0;

DWORD WINAPI SendAlertThread(void*) {
    // The texts are copied at once: the Options page may change the settings meanwhile.
    std::string text = LoadMessage(IDS_ALERT_TEXT);
    const AppSettings& settings = Settings();
    unique_bstr server(FieldBstr(settings.MailServer));
    unique_bstr to(FieldBstr(settings.MailTo));
    unique_bstr subject(FieldBstr(settings.AlertSubject));
    unique_bstr data(ToBstr(text));
    if (SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        {
            Microsoft::WRL::ComPtr<IEmail> email;
            if (SUCCEEDED(::CoCreateInstance(CLSID_Email, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&email))) &&
                SUCCEEDED(email->Init(server.get(), to.get(), subject.get(),
                                      static_cast<unsigned long>(settings.MailServerPort)))) {
                // An alert that cannot be delivered has nobody to tell: the user did not ask
                // for it, and the log holds the detection.
                unsigned long status = 0;
                email->SendMail(data.get(), &status);
            }
        }
        ::CoUninitialize();
    }
    ::InterlockedDecrement(&g_runningAlerts);
    return 0;
}

}  // namespace

void StartAdminAlertThread() {
    ::InterlockedIncrement(&g_runningAlerts);
    unique_handle thread(::CreateThread(nullptr, 0, SendAlertThread, nullptr, 0, nullptr));
    if (!thread) ::InterlockedDecrement(&g_runningAlerts);
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

// The Email COM object: the program makes one per AdminAlert or test message on the
// thread that sends it, sets it up with Init and sends once.
#pragma once

#include "com_module.h"
#include "kwreng32.h"
#include "smtp_client.h"

#include <string_view>

namespace tolvane {

// Free-threaded: its reference count is interlocked, and the only state it keeps is its
// own session, which Init replaces and each send copies under the object's own lock,
// so calls from any thread may overlap.
class Email final : public DualObject<IEmail, &IID_IEmail> {
public:
    Email();
    Email(const Email&) = delete;
    Email& operator=(const Email&) = delete;

    // IUnknown

    // IEmail
    STDMETHODIMP Init(BSTR bstrMailServer, BSTR bstrTo, BSTR bstrSubject, unsigned long dwPortIn) override;
    STDMETHODIMP SendTestMessage() override;
    // Returns SendMail's result code as it is; pdwStatusCode is left alone.
    STDMETHODIMP SendMail(BSTR bstrData, unsigned long* pdwStatusCode) override;

    // The two sends with a connect and reply time-out of the caller's choosing; the COM
    // methods use kSmtpTimeoutMs.
    HRESULT SendTestMessageWithin(DWORD timeoutMs);
    long SendMailWithin(std::string_view data, DWORD timeoutMs);

    static HRESULT Create(REFIID riid, void** object) { return CreateComObject<Email>(riid, object); }

private:
    ~Email() override;
    EmailSession Session();

    CRITICAL_SECTION sessionGuard_;
    EmailSession session_;
};

}  // namespace tolvane

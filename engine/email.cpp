#include "email.h"

#include "bstr_text.h"
#include "resource.h"

#include <new>
#include <string>
#include <utility>

namespace tolvane {
namespace {

// Room for the test message with plenty to spare; the string table holds it whole.
constexpr int kTestMessageChars = 1024;

}  // namespace

Email::Email() { ::InitializeCriticalSection(&sessionGuard_); }

Email::~Email() {
    ::DeleteCriticalSection(&sessionGuard_);
}

// No exception leaves through a COM method: the only one the texts can raise is
// running out of memory.
STDMETHODIMP Email::Init(BSTR bstrMailServer, BSTR bstrTo, BSTR bstrSubject, unsigned long dwPortIn) try {
    EmailSession session = MakeEmailSession(ToAnsi(bstrMailServer), ToAnsi(bstrTo),
                                            ToAnsi(bstrSubject), dwPortIn);
    ::EnterCriticalSection(&sessionGuard_);
    session_ = std::move(session);
    ::LeaveCriticalSection(&sessionGuard_);
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

STDMETHODIMP Email::SendTestMessage() try {
    return SendTestMessageWithin(kSmtpTimeoutMs);
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

STDMETHODIMP Email::SendMail(BSTR bstrData, unsigned long*) try {
    return static_cast<HRESULT>(SendMailWithin(ToAnsi(bstrData), kSmtpTimeoutMs));
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

// Every result but 0 is a message that did not go out: a time-out or a dropped
// connection (a positive Winsock code) must not tell the user the test mail was sent.
HRESULT Email::SendTestMessageWithin(DWORD timeoutMs) {
    char text[kTestMessageChars];
    int length = ::LoadStringA(ModuleInstance(), IDS_TEST_MESSAGE, text, kTestMessageChars);
    if (length <= 0) return E_FAIL;
    return SendMailWithin(std::string_view(text, static_cast<std::size_t>(length)), timeoutMs) == 0
               ? S_OK
               : E_FAIL;
}

long Email::SendMailWithin(std::string_view data, DWORD timeoutMs) {
    return tolvane::SendMail(Session(), data, timeoutMs);
}

EmailSession Email::Session() {
    ::EnterCriticalSection(&sessionGuard_);
    EmailSession copy = session_;
    ::LeaveCriticalSection(&sessionGuard_);
    return copy;
}

}  // namespace tolvane

#include "email_object.h"

#include <objbase.h>

#include <atomic>

namespace tolvane {

namespace {

HRESULT CreateThroughCom(IEmail** email) {
    return ::CoCreateInstance(CLSID_Email, nullptr, CLSCTX_INPROC_SERVER, IID_IEmail, reinterpret_cast<void**>(email));
}

std::atomic<EmailCreator> g_creator{CreateThroughCom};

}  // namespace

HRESULT CreateEmailObject(Microsoft::WRL::ComPtr<IEmail>& email) {
    email.Reset();
    return g_creator.load()(email.GetAddressOf());
}

EmailCreator SetEmailCreator(EmailCreator creator) { return g_creator.exchange(creator ? creator : CreateThroughCom); }

}  // namespace tolvane

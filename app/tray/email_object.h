// The scan engine module's Email object, as the mail threads (the AdminAlert and the
// Options page's test message) create it in their own apartments.
#pragma once

#include "kwreng32.h"

#include <wrl/client.h>

namespace tolvane {

// Creates an Email object in-process for the calling thread.
HRESULT CreateEmailObject(Microsoft::WRL::ComPtr<IEmail>& email);

// How the object is created; tests put their own in place to reach the mail threads'
// failure paths. Returns the previous one; null puts CoCreateInstance back. Set it
// while no mail thread runs.
using EmailCreator = HRESULT (*)(IEmail** email);
EmailCreator SetEmailCreator(EmailCreator creator);

}  // namespace tolvane

#include "bstr_text.h"

#include "unique_handle.h"

namespace tolvane {

std::string ToAnsi(BSTR text) {
    if (!text) return {};
    int length = static_cast<int>(::SysStringLen(text));
    int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

BSTR ToBstr(const std::string& text) {
    int chars = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = ::SysAllocStringLen(nullptr, static_cast<UINT>(chars));
    if (out)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, chars);
    return out;
}

SAFEARRAY* ToBstrArray(const std::vector<std::string>& texts) {
    SAFEARRAY* array = ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    if (!array) return nullptr;
    for (LONG index = 0; index < static_cast<LONG>(texts.size()); ++index) {
        // SafeArrayPutElement stores its own copy of the string.
        unique_bstr text(ToBstr(texts[static_cast<std::size_t>(index)]));
        if (!text || FAILED(::SafeArrayPutElement(array, &index, text.get()))) {
            ::SafeArrayDestroy(array);
            return nullptr;
        }
    }
    return array;
}

}  // namespace tolvane

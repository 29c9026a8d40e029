#include "bstr_text.h"

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

}  // namespace tolvane

// Path comparison as the file system sees names: without regard to case, with the
// double-byte characters of the ANSI code page kept whole.
#pragma once

#include <cstddef>
#include <string>

namespace tolvane {

bool EqualIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength);

inline bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return EqualIgnoringCase(a.data(), a.size(), b.data(), b.size());
}

// True when `text` begins with `prefix`, compared the same way.
inline bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.data(), prefix.size(), prefix.data(), prefix.size());
}

}  // namespace tolvane

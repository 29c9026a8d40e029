#include "text_compare.h"

#include <windows.h>

namespace tolvane {

bool EqualIgnoringCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    if (aLength != bLength) return false;
    if (aLength == 0) return true;
    // String sort, so hyphens and apostrophes count like any other character.
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a,
                            static_cast<int>(aLength), b, static_cast<int>(bLength)) == CSTR_EQUAL;
}

}  // namespace tolvane

// Cases about 64-bit Windows: its two registry views and, for a 32-bit program under
// WOW64, the 64-bit processes beside it. The 64-bit edition always has both views. The
// 32-bit test programs meet them only in the WOW64 run (a win64 prefix), which sets
// TOLVANE_REQUIRE_WOW64 so that a case finding no WOW64 there fails instead of skipping.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace tolvane::test {

inline bool UnderWow64() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 4 && ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

// The view that is not this program's own: the 32-bit one for the 64-bit edition, the
// 64-bit one under WOW64; 0 on 32-bit Windows, which has one view only.
inline REGSAM OtherRegistryView() {
    if (sizeof(void*) == 8) return KEY_WOW64_32KEY;
    return UnderWow64() ? KEY_WOW64_64KEY : 0;
}

inline bool Wow64Required() {
    const char* required = std::getenv("TOLVANE_REQUIRE_WOW64");
    return required && *required && *required != '0';
}

}  // namespace tolvane::test

#define TOLVANE_NEEDS_WINDOWS64()                                                                      \
    do {                                                                                               \
        if (::tolvane::test::OtherRegistryView() != 0) break;                                          \
        if (::tolvane::test::Wow64Required())                                                          \
            FAIL() << "TOLVANE_REQUIRE_WOW64 is set, but this 32-bit program does not run under WOW64"; \
        GTEST_SKIP() << "not under WOW64: a 32-bit program on 32-bit Windows has one registry view";   \
    } while (0)

#include "registry_views.h"

namespace tolvane {

bool RunsUnderWow64() {
    if (sizeof(void*) == 8) return false;
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);
    static const bool underWow64 = [] {
        auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
        BOOL wow64 = FALSE;
        return isWow64Process && isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    }();
    return underWow64;
}

bool OnWindows64() { return sizeof(void*) == 8 || RunsUnderWow64(); }

std::vector<REGSAM> RegistryViews() {
    if (sizeof(void*) == 8) return {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    if (RunsUnderWow64()) return {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    return {0};
}

}  // namespace tolvane

// PrettyPark and SubSeven hook the open command of every program.
#include "family_detectors.h"
#include "unique_handle.h"

namespace tolvane {
namespace {

constexpr int kCommandCompareChars = sizeof kExefileCommand - 1;

}  // namespace

PrettyParkDetector::PrettyParkDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    registryEntry_ = kExefileCommandKey;
}

bool PrettyParkDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    return SetRegistryString(HKEY_CLASSES_ROOT, kExefileCommandKey, nullptr, kExefileCommand);
}

SubSevenDetector::SubSevenDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    LookUpAutostartValue(kNoEntry);
}

bool SubSevenDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    bool registryStep = true;
    if (registryEntry_ != kNoEntry)
        registryStep = DeleteRegistryValue(HKEY_LOCAL_MACHINE, registryKey_, registryEntry_);
    else
        CleanIniAutostart();  // no value starts it: one of the INI lines does

    unique_hkey command;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kExefileCommandKey, 0, KEY_ALL_ACCESS, command.put()) != ERROR_SUCCESS)
        return registryStep;
    char value[MAX_PATH] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    if (::RegQueryValueExA(command.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, value,
                         static_cast<int>(strnlen(value, kCommandCompareChars)), kExefileCommand,
                         kCommandCompareChars) != CSTR_EQUAL)
        ::RegSetValueExA(command.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kExefileCommand),
                         sizeof kExefileCommand);
    return true;
}

}  // namespace tolvane

// PrettyPark and SubSeven hook the open command of every program.
#include "family_detectors.h"
#include "unique_handle.h"

#include <vector>

namespace tolvane {
namespace {

constexpr int kCommandCompareChars = sizeof kExefileCommand - 1;

// The key's default value whole: a hijacked command padded past 260 bytes must not fail
// the read and so escape the reset.
bool ReadDefaultValue(HKEY key, std::vector<char>& value) {
    value.assign(MAX_PATH, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(value.size()) - 1;  // room for a terminator
        LONG status = ::RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size);
        if (status == ERROR_SUCCESS) {
            value.resize(size);
            value.push_back('\0');
            return true;
        }
        if (status != ERROR_MORE_DATA) return false;
        value.assign(size + 1, '\0');
    }
    return false;
}

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
    if (FoundANamedValue())
        registryStep = DeleteFoundValues(false);
    else
        CleanIniAutostart();  // no value starts it: one of the INI lines does

    unique_hkey command;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, kExefileCommandKey, 0, KEY_ALL_ACCESS, command.put()) != ERROR_SUCCESS)
        return registryStep;
    std::vector<char> value;
    if (ReadDefaultValue(command.get(), value) &&
        ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, value.data(),
                         static_cast<int>(strnlen(value.data(), kCommandCompareChars)), kExefileCommand,
                         kCommandCompareChars) != CSTR_EQUAL)
        ::RegSetValueExA(command.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kExefileCommand),
                         sizeof kExefileCommand);
    return true;
}

}  // namespace tolvane

#include "ini_autostart.h"

#include <windows.h>

namespace tolvane {
namespace {

constexpr char kAbsent[] = "-NONE-";
constexpr DWORD kLineBytes = 1024;

bool BeginsWithIgnoringCase(const std::string& token, const std::string& prefix) {
    if (token.size() < prefix.size()) return false;
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, token.data(),
                            static_cast<int>(prefix.size()), prefix.data(),
                            static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

void CleanLine(const char* section, const char* key, const char* profile, const std::string& fileName) {
    char value[kLineBytes];
    if (profile)
        ::GetPrivateProfileStringA(section, key, kAbsent, value, sizeof value, profile);
    else
        ::GetProfileStringA(section, key, kAbsent, value, sizeof value);
    std::string newValue;
    if (!StripFileTokens(value, fileName, newValue)) return;
    if (profile)
        ::WritePrivateProfileStringA(section, key, newValue.c_str(), profile);
    else
        ::WriteProfileStringA(section, key, newValue.c_str());
}

}  // namespace

bool StripFileTokens(const std::string& value, const std::string& fileName, std::string& newValue) {
    // Without a name every token would match: a detector whose path ends in a backslash
    // must not empty the shell line.
    if (value.empty() || value == kAbsent || fileName.empty()) return false;
    std::string kept;
    bool dropped = false;
    std::size_t at = 0;
    while ((at = value.find_first_not_of(' ', at)) != std::string::npos) {
        std::size_t end = value.find(' ', at);
        if (end == std::string::npos) end = value.size();
        std::string token = value.substr(at, end - at);
        if (BeginsWithIgnoringCase(token, fileName))
            dropped = true;
        else
            kept += token + ' ';
        at = end;
    }
    if (dropped) newValue = kept;
    return dropped;
}

void CleanIniAutostart(const std::string& fileName) {
    CleanLine("windows", "load", nullptr, fileName);
    CleanLine("windows", "run", nullptr, fileName);
    CleanLine("boot", "shell", "system.ini", fileName);
}

}  // namespace tolvane

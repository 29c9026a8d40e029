// Registry state for tests: the product key wiped before and after each test that
// changes it, and small read/write helpers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolvane::test {

constexpr char kProductKey[] = "SOFTWARE\\Ostrimark\\Tolvane";

// `view` is a registry view flag (KEY_WOW64_32KEY, KEY_WOW64_64KEY) or 0 for the program's own.
bool SetString(HKEY root, const std::string& key, const char* name, const std::string& value, REGSAM view = 0);
bool ReadValue(HKEY root, const std::string& key, const char* name, DWORD& type,
               std::vector<unsigned char>& data, REGSAM view = 0);
// A REG_SZ value's text; "<missing>" when there is none or it has another type.
std::string ReadString(HKEY root, const std::string& key, const char* name, REGSAM view = 0);
bool KeyExists(HKEY root, const std::string& key);
void DeleteTree(HKEY root, const std::string& key);

// Removes HKLM\SOFTWARE\Ostrimark\Tolvane now and again at the end of the scope.
class ScopedProductKey {
public:
    ScopedProductKey() { DeleteTree(HKEY_LOCAL_MACHINE, kProductKey); }
    ~ScopedProductKey() { DeleteTree(HKEY_LOCAL_MACHINE, kProductKey); }
    ScopedProductKey(const ScopedProductKey&) = delete;
    ScopedProductKey& operator=(const ScopedProductKey&) = delete;
};

// Saves every value of a key (and whether it existed), optionally empties it, and puts
// back exactly what was there at the end of the scope, whatever the test wrote meanwhile.
class ScopedKeyValues {
public:
    ScopedKeyValues(HKEY root, std::string key, bool clear, REGSAM view = 0);
    ~ScopedKeyValues();
    ScopedKeyValues(const ScopedKeyValues&) = delete;
    ScopedKeyValues& operator=(const ScopedKeyValues&) = delete;

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<unsigned char> data;
    };
    void Clear() const;

    HKEY root_;
    std::string key_;
    REGSAM view_;
    bool existed_ = false;
    std::vector<Value> values_;
};

}  // namespace tolvane::test

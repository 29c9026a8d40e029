// Registry state for tests: the product key wiped before and after each test that
// changes it, and small read/write helpers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tolvane::test {

constexpr char kProductKey[] = "SOFTWARE\\Ostrimark\\Tolvane";

bool SetString(HKEY root, const std::string& key, const char* name, const std::string& value);
bool ReadValue(HKEY root, const std::string& key, const char* name, DWORD& type,
               std::vector<unsigned char>& data);
// A REG_SZ value's text; "<missing>" when there is none or it has another type.
std::string ReadString(HKEY root, const std::string& key, const char* name);
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
    ScopedKeyValues(HKEY root, std::string key, bool clear);
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
    bool existed_ = false;
    std::vector<Value> values_;
};

}  // namespace tolvane::test

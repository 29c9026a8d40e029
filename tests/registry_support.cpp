#include "registry_support.h"

#include "registrar.h"
#include "unique_handle.h"

namespace tolvane::test {

bool SetString(HKEY root, const std::string& key, const char* name, const std::string& value, REGSAM view) {
    unique_hkey opened;
    if (::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, opened.put(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExA(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool ReadValue(HKEY root, const std::string& key, const char* name, DWORD& type,
               std::vector<unsigned char>& data, REGSAM view) {
    unique_hkey opened;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, opened.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (::RegQueryValueExA(opened.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.resize(size);
    return ::RegQueryValueExA(opened.get(), name, nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

std::string ReadString(HKEY root, const std::string& key, const char* name, REGSAM view) {
    DWORD type = 0;
    std::vector<unsigned char> data;
    if (!ReadValue(root, key, name, type, data, view) || type != REG_SZ) return "<missing>";
    std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
}

bool KeyExists(HKEY root, const std::string& key) {
    unique_hkey opened;
    return ::RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::string& key) { DeleteKeyTree(root, key.c_str()); }

ScopedKeyValues::ScopedKeyValues(HKEY root, std::string key, bool clear, REGSAM view)
    : root_(root), key_(std::move(key)), view_(view) {
    unique_hkey opened;
    if (::RegOpenKeyExA(root_, key_.c_str(), 0, KEY_READ | view_, opened.put()) != ERROR_SUCCESS) return;
    existed_ = true;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameLength = sizeof name, type = 0, bytes = 0;
        if (::RegEnumValueA(opened.get(), i, name, &nameLength, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
            break;
        Value value{std::string(name, nameLength), type, std::vector<unsigned char>(bytes)};
        ::RegQueryValueExA(opened.get(), value.name.c_str(), nullptr, nullptr, value.data.data(), &bytes);
        values_.push_back(std::move(value));
    }
    opened.reset();
    if (clear) Clear();
}

ScopedKeyValues::~ScopedKeyValues() {
    Clear();
    if (!existed_) {
        // RegDeleteKeyExA is Vista's; the 9x test programs never name a view.
        if (view_) ::RegDeleteKeyExA(root_, key_.c_str(), view_, 0);
        else ::RegDeleteKeyA(root_, key_.c_str());
        return;
    }
    unique_hkey opened;
    if (::RegCreateKeyExA(root_, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, opened.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    for (const Value& value : values_)
        ::RegSetValueExA(opened.get(), value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
}

void ScopedKeyValues::Clear() const {
    unique_hkey opened;
    if (::RegOpenKeyExA(root_, key_.c_str(), 0, KEY_ALL_ACCESS | view_, opened.put()) != ERROR_SUCCESS) return;
    char name[16384];
    for (;;) {
        DWORD nameLength = sizeof name;
        if (::RegEnumValueA(opened.get(), 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (::RegDeleteValueA(opened.get(), name) != ERROR_SUCCESS) break;
    }
}

}  // namespace tolvane::test

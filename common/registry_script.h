// Registration scripts: the small registrar language the COM modules keep as REGISTRY
// resources, parsed from text into keys and values. No registry access here.
//
//   HKCR { Name = s 'default' { val Value = s 'text'  Sub = d '5' } NoRemove CLSID { ... } }
//
// Key flags: NoRemove (kept on removal, only its children go), ForceRemove (deleted
// whole before registration), Delete (only deleted, on registration).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

struct RegistryScriptValue {
    std::string name;  // empty: the key's default value
    char type = 's';   // 's' REG_SZ, 'd' REG_DWORD
    std::string data;
};

struct RegistryScriptKey {
    enum class Flag { None, NoRemove, ForceRemove, Delete };
    std::string name;
    Flag flag = Flag::None;
    std::optional<RegistryScriptValue> defaultValue;
    std::vector<RegistryScriptValue> values;
    std::vector<RegistryScriptKey> subkeys;
};

struct RegistryScriptRoot {
    std::string root;  // HKCR, HKLM, HKCU or their long names
    std::vector<RegistryScriptKey> keys;
};

struct RegistryScript {
    std::vector<RegistryScriptRoot> roots;
};

// Replaces each %NAME% of `replacements` inside quoted strings. Returns nothing and sets
// `error` when the text is not a well-formed script.
std::optional<RegistryScript> ParseRegistryScript(
    std::string_view text, const std::map<std::string, std::string>& replacements,
    std::string* error = nullptr);

}  // namespace tolvane

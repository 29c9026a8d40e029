// The registrar language of the COM modules' REGISTRY resources. A script that parses is
// written back out and must parse to the same keys and values; one that fails names an
// offset inside the text.
#include "registry_script.h"

#include "fuzz_check.h"

#include <string>

using namespace tolvane;

namespace {

const std::map<std::string, std::string> kModule = {{"MODULE", "C:\\Program Files\\Tolvane\\Plugins\\kwreng32.dll"}};
const std::map<std::string, std::string> kNothing;

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string Value(const RegistryScriptValue& value) {
    return std::string(1, value.type) + " " + Quoted(value.data);
}

void WriteKeys(const std::vector<RegistryScriptKey>& keys, std::string& out);

void WriteKey(const RegistryScriptKey& key, std::string& out) {
    static const char* const kFlags[] = {"", "NoRemove ", "ForceRemove ", "Delete "};
    out += kFlags[static_cast<int>(key.flag)] + Quoted(key.name);
    if (key.defaultValue) out += " = " + Value(*key.defaultValue);
    if (key.values.empty() && key.subkeys.empty()) return void(out += "\n");
    out += " {\n";
    for (const auto& value : key.values) out += "val " + Quoted(value.name) + " = " + Value(value) + "\n";
    WriteKeys(key.subkeys, out);
    out += "}\n";
}

void WriteKeys(const std::vector<RegistryScriptKey>& keys, std::string& out) {
    for (const auto& key : keys) WriteKey(key, out);
}

std::string Write(const RegistryScript& script) {
    std::string out;
    for (const auto& root : script.roots) {
        out += Quoted(root.root) + " {\n";
        WriteKeys(root.keys, out);
        out += "}\n";
    }
    return out;
}

bool Same(const RegistryScriptValue& a, const RegistryScriptValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

bool Same(const std::vector<RegistryScriptKey>& a, const std::vector<RegistryScriptKey>& b);

bool Same(const RegistryScriptKey& a, const RegistryScriptKey& b) {
    if (a.name != b.name || a.flag != b.flag || a.defaultValue.has_value() != b.defaultValue.has_value())
        return false;
    if (a.defaultValue && !Same(*a.defaultValue, *b.defaultValue)) return false;
    if (a.values.size() != b.values.size()) return false;
    for (std::size_t i = 0; i < a.values.size(); ++i)
        if (!Same(a.values[i], b.values[i])) return false;
    return Same(a.subkeys, b.subkeys);
}

bool Same(const std::vector<RegistryScriptKey>& a, const std::vector<RegistryScriptKey>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto script = ParseRegistryScript(text, kModule, &error);
    if (!script) {
        std::size_t at = error.rfind(" at offset ");
        FUZZ_REQUIRE(at != std::string::npos);
        FUZZ_REQUIRE(std::stoull(error.substr(at + 11)) <= size);
        return 0;
    }
    FUZZ_REQUIRE(error.empty());
    std::string written = Write(*script);
    auto again = ParseRegistryScript(written, kNothing, &error);
    FUZZ_REQUIRE(again.has_value());
    FUZZ_REQUIRE(again->roots.size() == script->roots.size());
    for (std::size_t i = 0; i < script->roots.size(); ++i) {
        FUZZ_REQUIRE(again->roots[i].root == script->roots[i].root);
        FUZZ_REQUIRE(Same(again->roots[i].keys, script->roots[i].keys));
    }
    return 0;
}

#include "plugin_manager.h"

#include "pe_format.h"
#include "resource.h"
#include "settings/settings_store.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace tolvane {
namespace {

using GetPluginNameCall = int(WINAPI*)(char* name);
using PluginQueryCall = int(WINAPI*)();
using RegistrationCall = HRESULT(STDAPICALLTYPE*)();

// The export contract promises to write at most 260 bytes, the name and its zero; a
// smaller buffer would let a long name run over it.
constexpr std::size_t kNameBufferBytes = 260;

// The headers of any module lie well inside this much of its file.
constexpr DWORD kHeaderBytes = 64 * 1024;

int AskPlugin(HMODULE module, const char* exportName) {
    auto call = reinterpret_cast<PluginQueryCall>(::GetProcAddress(module, exportName));
    return call ? call() : 0;
}

// The message's first "%s" takes the name, the next "%s" or "%x" the detail.
std::string PluginMessage(UINT id, const std::string& name, const std::string& detail) {
    std::string text = LoadMessage(id);
    std::size_t at = text.find("%s");
    if (at != std::string::npos) {
        text.replace(at, 2, name);
        at += name.size();
    } else {
        at = 0;
    }
    std::size_t next = text.find('%', at);
    if (next != std::string::npos && next + 1 < text.size() && (text[next + 1] == 's' || text[next + 1] == 'x'))
        text.replace(next, 2, detail);
    return text;
}

}  // namespace

std::string PluginsDirectory() {
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return {};
    char folder[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH, type = REG_NONE;
    if (::RegQueryValueExA(key.get(), "PluginsDir", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::string text(folder, strnlen(folder, size));
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

std::string PluginNameFromBuffer(const char* buffer, std::size_t size) {
    std::size_t limit = size < kPluginNameMax ? size : kPluginNameMax;
    return std::string(buffer, strnlen(buffer, limit));
}

bool IsModuleOfOtherKind(const std::string& path) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<std::uint8_t> headers(kHeaderBytes);
    DWORD read = 0;
    if (!::ReadFile(file.get(), headers.data(), kHeaderBytes, &read, nullptr)) return false;
    std::optional<PeLayout> layout = ReadPeLayout(headers.data(), read);
    return layout && !layout->IsFor(kNativeMachine);
}

bool QueryPlugin(const std::string& path, PluginEntry& entry) {
    if (IsModuleOfOtherKind(path)) return false;
    unique_hmodule module(::LoadLibraryA(path.c_str()));
    if (!module) return false;
    auto getName = reinterpret_cast<GetPluginNameCall>(::GetProcAddress(module.get(), "GetPluginName"));
    if (!getName) return false;
    char name[kNameBufferBytes] = {};
    entry.name = getName(name) ? PluginNameFromBuffer(name, sizeof name) : std::string();
    entry.path = path;
    entry.installed = AskPlugin(module.get(), "IsPluginRegistered");
    entry.critical = AskPlugin(module.get(), "IsCriticalPlugin");
    return true;
}

std::vector<PluginEntry> FindPlugins(const std::string& folder) {
    std::vector<PluginEntry> plugins;
    if (folder.empty()) return plugins;
    WIN32_FIND_DATAA found;
    unique_find find(::FindFirstFileA((folder + "\\*.dll").c_str(), &found));
    if (!find) return plugins;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        PluginEntry entry;
        if (QueryPlugin(folder + "\\" + found.cFileName, entry)) plugins.push_back(std::move(entry));
    } while (::FindNextFileA(find.get(), &found));
    return plugins;
}

bool ChangePluginRegistration(const PluginEntry& entry, bool install) {
    const UINT loadFailed = install ? IDS_PLUGIN_INSTALL_LOAD_FAILED : IDS_PLUGIN_REMOVE_LOAD_FAILED;
    const UINT exportMissing = install ? IDS_PLUGIN_INSTALL_EXPORT_MISSING : IDS_PLUGIN_REMOVE_EXPORT_MISSING;
    const UINT callFailed = install ? IDS_PLUGIN_INSTALL_FAILED : IDS_PLUGIN_REMOVE_FAILED;
    // A module of the other kind fails to load; it is not handed to the loader at all.
    unique_hmodule module(IsModuleOfOtherKind(entry.path) ? nullptr : ::LoadLibraryA(entry.path.c_str()));
    if (!module) {
        ShowText(PluginMessage(loadFailed, entry.name, entry.path));
        return false;
    }
    auto call = reinterpret_cast<RegistrationCall>(
        ::GetProcAddress(module.get(), install ? "DllRegisterServer" : "DllUnregisterServer"));
    if (!call) {
        ShowText(PluginMessage(exportMissing, entry.name, entry.path));
        return false;
    }
    HRESULT result = call();
    if (FAILED(result)) {
        char code[16];
        std::snprintf(code, sizeof code, "%lx", static_cast<unsigned long>(result));
        ShowText(PluginMessage(callFailed, entry.name, code));
        return false;
    }
    return true;
}

}  // namespace tolvane

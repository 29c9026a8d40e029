#include "autostart.h"

#include "registry_views.h"
#include "text_compare.h"
#include "unique_handle.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tolvane {

namespace {

constexpr DWORD kFirstBufferBytes = MAX_PATH;

enum class ValueRead { Read, Skipped, End };

// Reads value `index` whole. A value bigger than the first buffers is read again with
// room for the longest value of the key, so that one long command does not end the walk
// and hide every value after it.
ValueRead ReadValue(HKEY key, DWORD index, std::string& name, std::string& data) {
    std::vector<char> nameBuffer(kFirstBufferBytes), dataBuffer(kFirstBufferBytes);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
        DWORD dataBytes = static_cast<DWORD>(dataBuffer.size()) - 1;  // room for a terminator
        LONG status = ::RegEnumValueA(key, index, nameBuffer.data(), &nameLength, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(dataBuffer.data()), &dataBytes);
        if (status == ERROR_SUCCESS) {
            name.assign(nameBuffer.data(), nameLength);
            // Whatever its type, the data is taken as text up to its first zero byte.
            data.assign(dataBuffer.data(), strnlen(dataBuffer.data(), dataBytes));
            return ValueRead::Read;
        }
        if (status != ERROR_MORE_DATA) return ValueRead::End;
        DWORD longestName = 0, longestData = 0;
        if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
            return ValueRead::Skipped;
        nameBuffer.resize(std::max<std::size_t>(nameBuffer.size(), longestName + 1));
        dataBuffer.resize(std::max<std::size_t>(dataBuffer.size(), longestData + 1));
    }
    return ValueRead::Skipped;  // grew between the two reads
}

// Calls `visit(name, data)` for every value of the key that could be read; stops early
// when `visit` returns false.
template <typename Visit>
void ForEachValue(HKEY key, Visit visit) {
    std::string name, data;
    for (DWORD index = 0;; ++index) {
        ValueRead read = ReadValue(key, index, name, data);
        if (read == ValueRead::End) return;
        if (read == ValueRead::Read && !visit(name, data)) return;
    }
}

std::string WithBackslash(std::string directory) {
    if (directory.empty() || directory.back() != '\\') directory += '\\';
    return directory;
}

std::string WindowsDirectory() {
    char buffer[MAX_PATH];
    UINT n = ::GetWindowsDirectoryA(buffer, sizeof buffer);
    return WithBackslash(std::string(buffer, n < sizeof buffer ? n : 0));
}

std::string SystemDirectory() {
    char buffer[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(buffer, sizeof buffer);
    return WithBackslash(std::string(buffer, n < sizeof buffer ? n : 0));
}

// A bare program name is looked for in the given directory.
std::string ResolveBareName(const std::string& data, const std::string& directory) {
    return data.find('\\') == std::string::npos ? directory + data : data;
}

unique_hkey OpenAutostartKey(HKEY root, const char* subkey, REGSAM view, LONG& status) {
    unique_hkey key;
    status = ::RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS | view, key.put());
    return key;
}

bool MatchInKey(const char* subkey, REGSAM view, const std::string& target, const std::string& directory,
                std::string& valueName, std::string& keyPath, bool& keyOpened) {
    LONG status;
    unique_hkey key = OpenAutostartKey(HKEY_LOCAL_MACHINE, subkey, view, status);
    keyOpened = status == ERROR_SUCCESS;
    if (!keyOpened) return false;
    bool matched = false;
    ForEachValue(key.get(), [&](const std::string& name, const std::string& data) {
        std::string command = ResolveBareName(data, directory);
        command = command.substr(0, command.find_first_of("-/"));  // options follow
        if (!StartsWithIgnoringCase(command, target)) return true;
        valueName = name;
        keyPath = subkey;
        matched = true;
        return false;
    });
    return matched;
}

HRESULT CheckEach(const std::vector<std::string>& commands, const AutostartFileCheck& checkFile) {
    for (const std::string& command : commands) {
        HRESULT hr = checkFile(command.c_str());
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

LONG ListAutostartCommands(HKEY root, const char* subkey, std::vector<std::string>& commands, REGSAM view) {
    // Services start from the system directory, programs from the Windows directory.
    std::string directory = std::strstr(subkey, "RunServices") ? SystemDirectory() : WindowsDirectory();
    LONG status;
    unique_hkey key = OpenAutostartKey(root, subkey, view, status);
    if (status != ERROR_SUCCESS) return status;
    commands.clear();
    ForEachValue(key.get(), [&](const std::string& name, const std::string& data) {
        if (name.empty() && data.empty()) return true;
        std::string command = ResolveBareName(data, directory);
        // Paths are handled in 260-byte buffers; a longer command names no file there.
        if (command.size() < MAX_PATH) commands.push_back(std::move(command));
        return true;
    });
    return ERROR_SUCCESS;
}

HRESULT ScanAutostartEntries(const AutostartFileCheck& checkFile) {
    const std::vector<REGSAM> views = RegistryViews();
    std::vector<std::string> commands;
    for (const char* subkey : {kRunServicesKey, kRunKey}) {
        for (REGSAM view : views) {
            commands.clear();
            if (ListAutostartCommands(HKEY_LOCAL_MACHINE, subkey, commands, view) != ERROR_SUCCESS) continue;
            HRESULT hr = CheckEach(commands, checkFile);
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

bool FindAutostartEntry(const char* path, std::string& valueName, std::string& keyPath, REGSAM view) {
    // An empty path would begin every command and name an unrelated value for deletion.
    if (!path || !*path) return false;
    std::string target(path);
    for (char& c : target)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    std::string directory = target.find("SYSTEM", 1) != std::string::npos ? SystemDirectory() : WindowsDirectory();
    bool opened = false;
    if (!MatchInKey(kRunKey, view, target, directory, valueName, keyPath, opened)) {
        if (!opened) return false;
        MatchInKey(kRunServicesKey, view, target, directory, valueName, keyPath, opened);
    }
    return !valueName.empty();
}

std::vector<AutostartEntry> FindAutostartEntries(const char* path) {
    std::vector<AutostartEntry> found;
    for (REGSAM view : RegistryViews()) {
        AutostartEntry entry;
        entry.view = view;
        FindAutostartEntry(path, entry.valueName, entry.keyPath, view);
        if (!entry.keyPath.empty()) found.push_back(std::move(entry));
    }
    return found;
}

}  // namespace tolvane

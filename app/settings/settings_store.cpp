#include "settings_store.h"

#include "maintenance/startup_shortcut.h"
#include "resource.h"
#include "ui/message_box.h"
#include "unique_handle.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace tolvane {

const char kProductKeyPath[] = "SOFTWARE\\Ostrimark\\Tolvane";

namespace {

unique_hkey OpenKey(const std::string& path) {
    unique_hkey key;
    ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
    return key;
}

unique_hkey CreateKey(const std::string& path) {
    unique_hkey key;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr);
    return key;
}

// Booleans are stored as 4-byte REG_BINARY but read without a type check, so a REG_DWORD
// written by hand works too; only 0 and 1 are taken.
void ReadBoolean(HKEY key, const char* name, std::int32_t& field) {
    DWORD value = 0, size = sizeof value;
    if (::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return;
    if (value == 0 || value == 1) field = static_cast<std::int32_t>(value);
}

void ReadNumber(HKEY key, const char* name, std::int32_t& field) {
    DWORD value = 0, size = sizeof value, type = REG_NONE;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return;
    field = static_cast<std::int32_t>(value);
}

// Texts are read through a 260-byte buffer and may be longer than their field (MailTo and
// MailServer hold 127 characters) or stored without their NUL: both are cut to the field.
template <std::size_t N>
void ReadString(HKEY key, const char* name, char (&field)[N]) {
    char buffer[260] = {};
    DWORD size = sizeof buffer, type = REG_NONE;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return;
    CopyToField(field, N, buffer, size);
}

void WriteBoolean(HKEY key, const char* name, std::int32_t value) {
    ::RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void WriteNumber(HKEY key, const char* name, std::int32_t value) {
    DWORD number = static_cast<DWORD>(value);
    ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

template <std::size_t N>
void WriteString(HKEY key, const char* name, const char (&field)[N]) {
    const void* end = std::memchr(field, '\0', N);
    std::string text(field, end ? static_cast<const char*>(end) - field : N - 1);
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
}

template <std::size_t N>
void LoadDefault(char (&field)[N], unsigned id) {
    std::string text = LoadMessage(id);
    SetField(field, text.c_str());
}

std::string SubKey(const char* name) { return std::string(kProductKeyPath) + "\\" + name; }

}  // namespace

bool LoadSettings(AppSettings& settings) {
    {
        unique_hkey key = OpenKey(kProductKeyPath);
        if (!key) return false;
        ReadBoolean(key.get(), "AutoScan", settings.AutoScan);
        ReadBoolean(key.get(), "LoadOnStartup", settings.LoadOnStartup);
        ReadBoolean(key.get(), "LoggingEnabled", settings.LoggingEnabled);
        ReadBoolean(key.get(), "SilentMode", settings.SilentMode);
        ReadBoolean(key.get(), "TimedScanning", settings.TimedScanning);
        ReadNumber(key.get(), "ScanInterval", settings.ScanInterval);
        ReadBoolean(key.get(), "ShowUIOnTrojan", settings.ShowUIOnTrojan);
    }
    unique_hkey key = OpenKey(SubKey("AdminAlert"));
    if (!key) return false;
    ReadBoolean(key.get(), "AdminAlert", settings.AdminAlert);
    ReadString(key.get(), "MailTo", settings.MailTo);
    ReadString(key.get(), "MailServer", settings.MailServer);
    ReadString(key.get(), "AlertSubject", settings.AlertSubject);
    ReadNumber(key.get(), "MailServerPort", settings.MailServerPort);
    key.reset();
    LoadUpdateOptions(settings);
    return true;
}

void LoadUpdateOptions(AppSettings& settings) {
    UpdateOptionsRecord& options = settings.UpdateOptions;
    unique_hkey key = OpenKey(SubKey("UpdateOptions"));
    if (!key) {
        LoadDefault(options.FTPServer, IDS_DEFAULT_UPDATE_SERVER);
        LoadDefault(options.Path, IDS_DEFAULT_UPDATE_PATH);
        LoadDefault(options.Username, IDS_DEFAULT_UPDATE_USERNAME);
        LoadDefault(options.Password, IDS_DEFAULT_UPDATE_PASSWORD);
        return;
    }
    ReadString(key.get(), "FTPServer", options.FTPServer);
    ReadString(key.get(), "Path", options.Path);
    ReadString(key.get(), "Username", options.Username);
    ReadString(key.get(), "Password", options.Password);
}

bool SaveSettings(const AppSettings& settings) {
    if (unique_hkey key = CreateKey(kProductKeyPath)) {
        WriteBoolean(key.get(), "AutoScan", settings.AutoScan);
        WriteBoolean(key.get(), "LoadOnStartup", settings.LoadOnStartup);
        WriteBoolean(key.get(), "LoggingEnabled", settings.LoggingEnabled);
        WriteBoolean(key.get(), "SilentMode", settings.SilentMode);
        WriteBoolean(key.get(), "TimedScanning", settings.TimedScanning);
        WriteNumber(key.get(), "ScanInterval", settings.ScanInterval);
        WriteBoolean(key.get(), "ShowUIOnTrojan", settings.ShowUIOnTrojan);
    }
    if (unique_hkey key = CreateKey(SubKey("AdminAlert"))) {
        WriteBoolean(key.get(), "AdminAlert", settings.AdminAlert);
        WriteString(key.get(), "MailServer", settings.MailServer);
        WriteString(key.get(), "AlertSubject", settings.AlertSubject);
        WriteString(key.get(), "MailTo", settings.MailTo);
        WriteNumber(key.get(), "MailServerPort", settings.MailServerPort);
    }
    StartupShortcut(settings.LoadOnStartup);
    return true;
}

bool LoadEngineVersion(EngineVersion& version) {
    unique_hkey key = OpenKey(SubKey("Engine"));
    if (!key) return false;
    ReadNumber(key.get(), "EngMaj", version.major);
    ReadNumber(key.get(), "EngMin", version.minor);
    ReadNumber(key.get(), "EngBld", version.build);
    return true;
}

bool SaveEngineVersion(const EngineVersion& version) {
    unique_hkey key = CreateKey(SubKey("Engine"));
    if (!key) return false;
    WriteNumber(key.get(), "EngMaj", version.major);
    WriteNumber(key.get(), "EngMin", version.minor);
    WriteNumber(key.get(), "EngBld", version.build);
    return true;
}

}  // namespace tolvane

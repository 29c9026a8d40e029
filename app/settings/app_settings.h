// The program's settings record and the installed engine version, as they live in memory
// for the whole run. The diagnostic file carries both byte for byte, so their layout is
// a file format: fields, widths and order never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tolvane {

#pragma pack(push, 1)

// Read from HKLM\...\Tolvane\UpdateOptions; the program never writes them.
struct UpdateOptionsRecord {
    char FTPServer[128];  // an HTTP URL prefix, whatever the name says
    char Path[520];
    char Username[128];
    char Password[128];
};

struct AppSettings {
    std::int32_t AutoScan;
    std::int32_t LoadOnStartup;
    std::int32_t SilentMode;
    std::int32_t TimedScanning;
    std::int32_t AdminAlert;
    std::int32_t ShowUIOnTrojan;
    std::int32_t reserved;
    char MailTo[128];
    char AlertSubject[1024];
    char MailServer[128];
    std::int32_t MailServerPort;
    std::int32_t ScanInterval;  // milliseconds
    std::int32_t LoggingEnabled;
    UpdateOptionsRecord UpdateOptions;
};

struct EngineVersion {
    std::int32_t major;
    std::int32_t minor;
    std::int32_t build;
};

#pragma pack(pop)

static_assert(sizeof(UpdateOptionsRecord) == 904);
static_assert(sizeof(AppSettings) == 2224);
static_assert(offsetof(AppSettings, LoadOnStartup) == 4);
static_assert(offsetof(AppSettings, SilentMode) == 8);
static_assert(offsetof(AppSettings, TimedScanning) == 12);
static_assert(offsetof(AppSettings, AdminAlert) == 16);
static_assert(offsetof(AppSettings, ShowUIOnTrojan) == 20);
static_assert(offsetof(AppSettings, MailTo) == 28);
static_assert(offsetof(AppSettings, AlertSubject) == 156);
static_assert(offsetof(AppSettings, MailServer) == 1180);
static_assert(offsetof(AppSettings, MailServerPort) == 1308);
static_assert(offsetof(AppSettings, ScanInterval) == 1312);
static_assert(offsetof(AppSettings, LoggingEnabled) == 1316);
static_assert(offsetof(AppSettings, UpdateOptions) + offsetof(UpdateOptionsRecord, Path) == 1448);
static_assert(offsetof(AppSettings, UpdateOptions) + offsetof(UpdateOptionsRecord, Username) == 1968);
static_assert(offsetof(AppSettings, UpdateOptions) + offsetof(UpdateOptionsRecord, Password) == 2096);
static_assert(sizeof(EngineVersion) == 12);

// The settings of a first run; the update options stay empty until they are loaded.
AppSettings DefaultAppSettings();
EngineVersion DefaultEngineVersion();

// Copies length bytes of text (or up to a NUL among them) into a fixed field: cut to
// width - 1 characters, and NUL-padded to the field's end, never beyond it.
void CopyToField(char* field, std::size_t width, const char* text, std::size_t length);

template <std::size_t N>
void SetField(char (&field)[N], const char* text) {
    CopyToField(field, N, text, std::strlen(text));
}

}  // namespace tolvane

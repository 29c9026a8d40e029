#include "app_settings.h"

#include <cstring>

namespace tolvane {

AppSettings DefaultAppSettings() {
    AppSettings settings{};
    settings.AutoScan = 1;
    settings.ShowUIOnTrojan = 1;
    SetField(settings.MailTo, "admin@example.com");
    SetField(settings.AlertSubject, "A trojan horse was found!");
    SetField(settings.MailServer, "mail.example.com");
    settings.MailServerPort = 25;
    // 3 milliseconds, not minutes: the Options page shows no interval chosen for it.
    settings.ScanInterval = 3;
    settings.LoggingEnabled = 1;
    return settings;
}

EngineVersion DefaultEngineVersion() { return EngineVersion{3, 0, 2}; }

void CopyToField(char* field, std::size_t width, const char* text, std::size_t length) {
    if (width == 0) return;
    const void* end = std::memchr(text, '\0', length);
    if (end) length = static_cast<const char*>(end) - text;
    if (length > width - 1) length = width - 1;
    std::memcpy(field, text, length);
    std::memset(field + length, 0, width - length);
}

}  // namespace tolvane

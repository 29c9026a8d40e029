#include "app_globals.h"

namespace tolvane {

AppSettings& Settings() {
    static AppSettings settings = DefaultAppSettings();
    return settings;
}

EngineVersion& InstalledEngineVersion() {
    static EngineVersion version = DefaultEngineVersion();
    return version;
}

}  // namespace tolvane

#include "back_orifice_config.h"
#include "family_detectors.h"
#include "process_inspector.h"
#include "autostart.h"
#include "unique_handle.h"

#include <cstdint>

namespace tolvane {
namespace {

// What the server's file holds of its configuration block; nothing when it cannot be read.
BackOrificeConfig ReadBackOrificeConfig(const std::string& path, bool& readable) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    readable = file.valid();
    if (!readable) return {};
    BackOrificeBlockSpan span = BackOrificeBlockLocation(::GetFileSize(file.get(), nullptr));
    std::uint8_t block[kBackOrificeBlockBytes];
    DWORD got = 0;
    if (span.length > 0 && ::SetFilePointer(file.get(), static_cast<LONG>(span.offset), nullptr, FILE_BEGIN) ==
                               span.offset) {
        DWORD n = 0;
        while (got < span.length && ::ReadFile(file.get(), block + got, span.length - got, &n, nullptr) && n > 0)
            got += n;
    }
    return ParseBackOrificeConfig(block, got);
}

}  // namespace

BackOrificeDetector::BackOrificeDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex) {
    bool readable = false;
    BackOrificeConfig config = ReadBackOrificeConfig(FilePath(), readable);
    if (!readable) return;
    if (config.builtInSettings) {
        LookUpAutostartValue(kDefaultValueEntry);
        return;
    }
    installName_ = config.installName;
    registryEntry_ = config.registryEntry;
}

bool BackOrificeDetector::Remove() {
    if (!TerminateAndQuarantine()) return false;
    if (!installName_.empty()) {
        std::string installed = installName_;
        if (installed.find(":\\") == std::string::npos) SystemDirectoryPath(installed);
        Quarantine(installed.c_str());
    }
    std::string companion = "windll.dll";
    SystemDirectoryPath(companion);
    Quarantine(companion.c_str());
    return DeleteFromFamilyKey(kRunServicesKey);
}

BackOrifice2kDetector::BackOrifice2kDetector(const char* path, DWORD processId, int typeIndex)
    : AutostartValueDetector(path, processId, typeIndex), noProcess_(processId == kNoProcess) {
    LookUpAutostartValue(kNoEntry);
}

bool BackOrifice2kDetector::Remove() {
    // Without a process of its own the server lives inside a system process: only a reboot
    // frees the file, but the autostart value can go now.
    if (noProcess_)
        ShowFileInUse(FilePath());
    else if (!TerminateAndQuarantine())
        return false;
    return DeleteFromFamilyKey(kRunServicesKey);
}

}  // namespace tolvane

// UpdateRun: what the user-interface thread and the update worker share for one run.
// Each of the three flags has one writer: the worker writes done (last) and result; the
// user-interface thread writes cancel, and result only once done is 1.
#pragma once

#include "settings/app_settings.h"
#include "update_dialog.h"
#include "update_signature.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// Result of a run: kNothingNewer/kNewerDefs/kNewerEngines bits, or one of these.
enum UpdateResult : std::int32_t { kUpdateFailed = -1, kUpdateCanceled = -2 };

// Indices into the transfer list; a remote entry is appended to entry 0 to make its URL.
enum TransferEntry {
    kServer, kRemoteVersionFile, kLocalVersionFile, kRemoteTrojanSigs, kLocalTrojanSigs,
    kRemotePrivacySigs, kLocalPrivacySigs, kRemoteScanEngine, kStagedScanEngine,
    kRemotePrivacyEngine, kStagedPrivacyEngine, kTransferCount
};

struct UpdateRun {
    std::atomic<std::int32_t> done{0};
    std::atomic<std::int32_t> cancel{0};
    std::atomic<std::int32_t> result{0};
    DownloadProgressDialog* dialog = nullptr;
    char localDate[12] = {};
    std::array<std::string, kTransferCount> transfers;
    EngineVersion localEngine{};
    // The server's engine numbers, for the caller to take once the modules are staged.
    EngineVersion remoteEngine{};
    // Bounds every wait on the server: connecting, sending, and each read.
    DWORD timeoutMilliseconds = 30000;
    // The maker's key file, and the key the worker loaded from it when it is there.
    std::string keyFile;
    std::optional<UpdateKey> key;
};

// The transfer list for the given update options; the local version file goes into
// `windowsDirectory`, the other local files into the current directory. The engine
// modules are this edition's: Path + "x64/kwreng32.dl_" in the 64-bit edition, Path +
// "kwreng32.dl_" in the 32-bit one (EngineModuleFolder).
std::array<std::string, kTransferCount> BuildTransferList(const UpdateOptionsRecord& options,
                                                          const std::string& windowsDirectory);

// The worker's thread procedure; `parameter` is the UpdateRun.
DWORD WINAPI UpdateWorker(void* parameter);

}  // namespace tolvane

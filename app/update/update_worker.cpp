// The update worker: fetches the version file, compares, and fetches what is newer.
#include "ui/message_box.h"
#include "update_run.h"
#include "update_transfer.h"
#include "update_version_file.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace tolvane {

namespace {

// The real file has a few lines; more than this is not a version file, and is not read whole.
constexpr DWORD kMaxVersionFile = 64 * 1024;

std::optional<std::string> ReadVersionFile(const std::string& path) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    std::string bytes(kMaxVersionFile, '\0');
    DWORD read = 0;
    if (!::ReadFile(file.get(), bytes.data(), kMaxVersionFile, &read, nullptr)) return std::nullopt;
    bytes.resize(read);
    return bytes;
}

// The comparison's value, or empty when the version file cannot be read or its date does
// not split. The local copy goes either way.
std::optional<int> CompareWithServer(UpdateRun& run, const std::optional<DefsDate>& localDate) {
    const std::string& path = run.transfers[kLocalVersionFile];
    std::optional<std::string> bytes = ReadVersionFile(path);
    ::DeleteFileA(path.c_str());
    if (!bytes) return std::nullopt;
    VersionFile remote = ParseVersionFile(*bytes);
    std::optional<int> need = CompareVersions(remote, localDate, run.localEngine);
    if (need && (*need & kNewerEngines)) run.remoteEngine = RemoteEngineVersion(remote);
    return need;
}

struct Transfer {
    TransferEntry remote;
    TransferEntry local;
    DownloadKind kind;
};

std::vector<Transfer> TransfersFor(int need) {
    std::vector<Transfer> list;
    if (need & kNewerDefs) {
        list.push_back({kRemoteTrojanSigs, kLocalTrojanSigs, DownloadKind::TrojanSignatures});
        list.push_back({kRemotePrivacySigs, kLocalPrivacySigs, DownloadKind::PrivacySignatures});
    }
    if (need & kNewerEngines) {
        list.push_back({kRemoteScanEngine, kStagedScanEngine, DownloadKind::EngineModule});
        list.push_back({kRemotePrivacyEngine, kStagedPrivacyEngine, DownloadKind::EngineModule});
    }
    return list;
}

// With the maker's key file in place nothing unsigned is taken: a key file that cannot
// be read ends the run, it does not switch the check off.
bool LoadKey(UpdateRun& run) {
    if (!UpdateKeyPresent(run.keyFile)) return true;
    run.key = UpdateKey::Load(run.keyFile);
    if (run.key) return true;
    ShowText("Tolvane cannot read the update key " + run.keyFile +
             ". No update is installed without it; please reinstall Tolvane.");
    return false;
}

// False when the run ended early with a failure.
bool Work(UpdateRun& run) {
    ShowStatus(run, "Contacting update server and checking for updates...");
    if (!LoadKey(run)) return false;
    // No date at all is a program that never loaded definitions: everything the server
    // has is newer. A date that is there but does not split cannot be compared.
    std::optional<DefsDate> localDate;
    if (run.localDate[0] != '\0' && !(localDate = SplitDate(run.localDate))) return false;
    switch (TransferFile(run, run.transfers[kRemoteVersionFile], run.transfers[kLocalVersionFile],
                         DownloadKind::VersionFile)) {
    case TransferOutcome::Done: break;
    case TransferOutcome::Failed: return true;  // the result says why already
    case TransferOutcome::Aborted: return false;
    }
    std::optional<int> need = CompareWithServer(run, localDate);
    if (!need) return false;
    run.result = *need;
    // A file that fails has set the result to failed; the ones after it are still fetched.
    for (const Transfer& transfer : TransfersFor(*need))
        if (TransferFile(run, run.transfers[transfer.remote], run.transfers[transfer.local], transfer.kind) ==
            TransferOutcome::Aborted)
            return false;
    ShowStatus(run, "Closing connection...");
    return true;
}

}  // namespace

std::array<std::string, kTransferCount> BuildTransferList(const UpdateOptionsRecord& options,
                                                          const std::string& windowsDirectory) {
    // The fields are fixed-width and may lack their NUL when a stored value filled them.
    std::string server(options.FTPServer, strnlen(options.FTPServer, sizeof options.FTPServer));
    std::string path(options.Path, strnlen(options.Path, sizeof options.Path));
    // This edition's modules: the 64-bit client's in the subfolder, the 32-bit one's where
    // they always were.
    std::string modules = path + EngineModuleFolder(kNativeMachine);
    return {server,
            path + "tsigs.ini", windowsDirectory + "\\tsigs.ini",
            path + "tsigs.kws", "tsigs.kws",
            path + "psigs.kws", "psigs.kws",
            modules + "kwreng32.dl_", "kwreng32.tmp",
            modules + "hyseng32.dl_", "hyseng32.tmp"};
}

DWORD WINAPI UpdateWorker(void* parameter) {
    UpdateRun& run = *static_cast<UpdateRun*>(parameter);
    // An exception past here would end the process, and the user-interface thread would
    // never see the run done.
    try {
        if (!Work(run)) run.result = kUpdateFailed;
    } catch (...) {
        run.result = kUpdateFailed;
    }
    run.done = 1;
    return 0;
}

}  // namespace tolvane

// tolvane-update.exe: the program's own update code from a console.
//   tolvane-update                      one update run for the installed program, as "Check for
//                                       new definitions" runs it; the messages are printed, and
//                                       staged engine modules go in place at the end, as at the
//                                       program's exit
//   tolvane-update --check FOLDER [KEY] checks a published update folder with the client's own
//                                       checks, and with KEY (the maker's public key file) the
//                                       signature beside each file; exit status 0 when the
//                                       clients would take every file. The modules at the top
//                                       must be 32-bit ones, those in x64/ 64-bit ones, whichever
//                                       edition this program is; a folder without x64/ serves
//                                       the 32-bit edition only
#include "settings/install_directory.h"
#include "settings/settings_store.h"
#include "staged_engines.h"
#include "tolvane_app.h"
#include "ui/message_box.h"
#include "unique_handle.h"
#include "update_client.h"
#include "update_file_check.h"
#include "update_version_file.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace tolvane;

namespace {

std::uint16_t OtherMachine(std::uint16_t machine) { return machine == kMachineAmd64 ? kMachineI386 : kMachineAmd64; }
const char* Bits(std::uint16_t machine) { return machine == kMachineAmd64 ? "64-bit" : "32-bit"; }

int PrintMessage(const std::string& text, UINT type, HWND) {
    std::printf("[message] %s\n", text.c_str());
    std::fflush(stdout);
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

std::string StoredDefinitionsDate() {
    unique_hkey key;
    char date[13] = {};
    DWORD size = 12;
    std::string path = std::string(kProductKeyPath) + "\\Engine";
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExA(key.get(), "VirusDefsDate", nullptr, nullptr, reinterpret_cast<BYTE*>(date), &size) !=
            ERROR_SUCCESS)
        return std::string();
    return date;
}

void PrintFile(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        std::printf("  staged %-14s %lu bytes\n", name, static_cast<unsigned long>(data.nFileSizeLow));
}

int RunInstalledUpdate() {
    // Held like the program holds it: no Tolvane.exe starts with its engines while the
    // modules may be replaced, and none may be running now.
    unique_handle instance(::CreateMutexA(nullptr, TRUE, kInstanceMutexName));
    if (!instance || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        std::printf("Tolvane is running: use \"Check for new definitions\" in it, or exit it first.\n");
        return 2;
    }
    AppSettings settings = DefaultAppSettings();
    EngineVersion version = DefaultEngineVersion();
    // Also where the program never ran and left no settings: the update options stand alone.
    if (!LoadSettings(settings)) LoadUpdateOptions(settings);
    LoadEngineVersion(version);
    std::string folder = InstallDirectory();
    // The update writes where the engines read: the install folder.
    if (folder.empty() || !::SetCurrentDirectoryA(folder.c_str())) {
        std::printf("Tolvane is not installed here (no install folder).\n");
        return 2;
    }
    std::string date = StoredDefinitionsDate();
    std::printf("server %.128s%.520s, definitions %s, engine %d.%d.%d\n", settings.UpdateOptions.FTPServer,
                settings.UpdateOptions.Path, date.empty() ? "(none)" : date.c_str(), version.major, version.minor,
                version.build);
    bool enginesDownloaded = false;
    SetMessageSink(PrintMessage);
    int result = RunUpdate(date.c_str(), UpdateTarget{nullptr, settings.UpdateOptions, version, enginesDownloaded});
    if (enginesDownloaded) {
        PrintFile("kwreng32.tmp");
        PrintFile("hyseng32.tmp");
    }
    switch (SwapStagedEngines(enginesDownloaded ? std::optional<EngineVersion>(version) : std::nullopt)) {
    case EngineSwap::Swapped:
        std::printf("engine modules %d.%d.%d put in place\n", version.major, version.minor, version.build);
        break;
    case EngineSwap::Kept: std::printf("engine modules could not be put in place; the next exit tries again\n"); break;
    case EngineSwap::NothingStaged: break;
    }
    return result >= 0 ? 0 : 1;
}

struct PublishedFile {
    std::string name;        // relative to the folder, as the server's path names it
    DownloadKind kind;
    std::uint16_t machine;   // of an engine module
};

std::optional<std::string> ReadSmallFile(const std::string& path, DWORD limit) {
    unique_file in(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(limit, '\0');
    DWORD read = 0;
    if (!in || !::ReadFile(in.get(), bytes.data(), limit, &read, nullptr)) return std::nullopt;
    bytes.resize(read);
    return bytes;
}

// Empty when the client would take the file; otherwise why not.
std::string Problem(const std::string& path, const PublishedFile& file, const std::optional<UpdateKey>& key) {
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "missing";
    if (!IsUsableDownload(path, file.kind, file.machine)) {
        return file.kind == DownloadKind::EngineModule && IsUsableDownload(path, file.kind, OtherMachine(file.machine))
                   ? std::string("a ") + Bits(OtherMachine(file.machine)) + " module where the " +
                         Bits(file.machine) + " edition reads its own"
                   : "does not read as the client reads it";
    }
    if (file.kind == DownloadKind::VersionFile) {
        VersionFile version = ParseVersionFile(ReadSmallFile(path, 64 * 1024).value_or(std::string()));
        if (!SplitDate(version.defs)) return "defs \"" + version.defs + "\" is no month/day/year";
        std::printf("  defs %s, engine %u.%u.%u\n", version.defs.c_str(), version.engineMajor, version.engineMinor,
                    version.engineBuild);
    }
    if (key) {
        std::optional<std::string> signature = ReadSmallFile(path + ".sig", kMaxSignatureBytes + 1);
        if (!signature) return "no signature";
        if (!key->Verifies(path, std::vector<std::uint8_t>(signature->begin(), signature->end())))
            return "signature does not verify";
    }
    return std::string();
}

bool IsFolder(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int CheckFolder(const std::string& folder, const char* keyFile) {
    std::optional<UpdateKey> key;
    if (keyFile && !(key = UpdateKey::Load(keyFile))) {
        std::printf("%s: no RSA public key in PEM form\n", keyFile);
        return 1;
    }
    std::vector<PublishedFile> files = {{"tsigs.ini", DownloadKind::VersionFile, 0},
                                        {"tsigs.kws", DownloadKind::TrojanSignatures, 0},
                                        {"psigs.kws", DownloadKind::PrivacySignatures, 0}};
    // Each edition's modules where its clients read them, checked as that edition's
    // whichever edition runs the check.
    bool x64 = IsFolder(folder + "\\x64");
    for (std::uint16_t machine : {kMachineI386, kMachineAmd64}) {
        if (machine == kMachineAmd64 && !x64) continue;
        for (const char* module : {"kwreng32.dl_", "hyseng32.dl_"})
            files.push_back({EngineModuleFolder(machine) + std::string(module), DownloadKind::EngineModule, machine});
    }
    bool good = true;
    for (const PublishedFile& file : files) {
        std::string problem = Problem(folder + "\\" + file.name, file, key);
        std::printf("%-17s %s\n", file.name.c_str(), problem.empty() ? "ok" : ("REFUSED: " + problem).c_str());
        good = good && problem.empty();
    }
    if (!x64) std::printf("%-17s none: a tree for the 32-bit edition only\n", EngineModuleFolder(kMachineAmd64));
    return good ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--check") return CheckFolder(argv[2], argc >= 4 ? argv[3] : nullptr);
    if (argc != 1) {
        std::printf("usage: tolvane-update [--check FOLDER [PUBLIC-KEY-FILE]]\n");
        return 2;
    }
    // The progress window lives on this thread; COM as in the program.
    ::CoInitialize(nullptr);
    int status = RunInstalledUpdate();
    ::CoUninitialize();
    return status;
}

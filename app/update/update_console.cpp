// tolvane-update.exe: the program's own update code from a console.
//   tolvane-update                      one update run for the installed program, as "Check for
//                                       new definitions" runs it; the messages are printed, and
//                                       staged engine modules go in place at the end, as at the
//                                       program's exit
//   tolvane-update --check FOLDER [KEY] checks a published update folder with the client's own
//                                       checks, and with KEY (the maker's public key file) the
//                                       signature beside each file; exit status 0 when the
//                                       client would take every file
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
    const char* name;
    DownloadKind kind;
};

int CheckFolder(const std::string& folder, const char* keyFile) {
    std::optional<UpdateKey> key;
    if (keyFile && !(key = UpdateKey::Load(keyFile))) {
        std::printf("%s: no RSA public key in PEM form\n", keyFile);
        return 1;
    }
    bool good = true;
    const PublishedFile files[] = {{"tsigs.ini", DownloadKind::VersionFile},
                                   {"tsigs.kws", DownloadKind::TrojanSignatures},
                                   {"psigs.kws", DownloadKind::PrivacySignatures},
                                   {"kwreng32.dl_", DownloadKind::EngineModule},
                                   {"hyseng32.dl_", DownloadKind::EngineModule}};
    for (const PublishedFile& file : files) {
        std::string path = folder + "\\" + file.name;
        std::string problem;
        if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            problem = "missing";
        } else if (!IsUsableDownload(path, file.kind)) {
            problem = "does not read as the client reads it";
        } else if (file.kind == DownloadKind::VersionFile) {
            std::vector<std::uint8_t> bytes(64 * 1024);
            unique_file in(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            DWORD read = 0;
            ::ReadFile(in.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
            VersionFile version = ParseVersionFile(std::string_view(reinterpret_cast<char*>(bytes.data()), read));
            if (!SplitDate(version.defs)) problem = "defs \"" + version.defs + "\" is no month/day/year";
            else
                std::printf("  defs %s, engine %u.%u.%u\n", version.defs.c_str(), version.engineMajor,
                            version.engineMinor, version.engineBuild);
        }
        if (problem.empty() && key) {
            std::vector<std::uint8_t> signature;
            unique_file sig(::CreateFileA((path + ".sig").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
            DWORD read = 0;
            signature.resize(kMaxSignatureBytes + 1);
            if (!sig || !::ReadFile(sig.get(), signature.data(), static_cast<DWORD>(signature.size()), &read, nullptr))
                problem = "no signature";
            else if (signature.resize(read), !key->Verifies(path, signature))
                problem = "signature does not verify";
        }
        std::printf("%-13s %s\n", file.name, problem.empty() ? "ok" : ("REFUSED: " + problem).c_str());
        good = good && problem.empty();
    }
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

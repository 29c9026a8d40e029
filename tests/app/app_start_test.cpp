// Tolvane.exe started as the user starts it: one copy at a time, the defaults of a first
// run, the diagnostic switch, a missing scan engine, and the staged engine modules put
// in place at exit.
#include "app_test_support.h"
#include "main_frame.h"
#include "maintenance/diagnostic_dump.h"
#include "plugin_module.h"
#include "registry_support.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"
#include "signature_file.h"
#include "test_support.h"
#include "tolvane_app.h"
#include "ui/message_box.h"
#include "unique_handle.h"
#include "update/staged_engines.h"
#include "update/update_file_check.h"
#include "update/update_server_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <cstring>
#include <functional>
#include <set>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string kEngine = std::string(kProductKey) + "\\Engine";
const std::string kAdminAlert = std::string(kProductKey) + "\\AdminAlert";
// The program's folder holds no scan signatures, so its scan at start offers a download;
// the tests answer no.
const char kSignaturesQuestion[] =
    "Tolvane could not load the signature files. The files may be missing or corrupt.  Would you like to "
    "download the latest signature files?";

DWORD ReadDword(const std::string& key, const char* name) {
    DWORD type = 0;
    std::vector<unsigned char> data;
    if (!ReadValue(HKEY_LOCAL_MACHINE, key, name, type, data) || data.size() != 4) return 0xDEADBEEF;
    return *reinterpret_cast<DWORD*>(data.data());
}

struct MatchSearch {
    DWORD process;
    std::function<bool(HWND)> match;
    HWND found;
};

BOOL CALLBACK FindMatchOf(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<MatchSearch*>(search);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process != s->process || !s->match(window)) return TRUE;
    s->found = window;
    return FALSE;
}

std::string WindowText(HWND window) {
    char text[128] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

bool IsDialog(HWND window) {
    char className[64] = {};
    ::GetClassNameA(window, className, sizeof className);
    return std::string(className) == "#32770";
}

// Tolvane.exe from beside the test program, run in `folder` (by default the folder of the
// privacy signatures).
class TolvaneProcess {
public:
    explicit TolvaneProcess(const std::string& arguments = "", std::string folder = "") {
        std::string exe = ModuleDirectory() + "\\Tolvane.exe";
        std::string command = "\"" + exe + "\" " + arguments;
        if (folder.empty()) folder = ModuleDirectory() + "\\signatures";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        started_ = ::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                    &startup, &info_) != FALSE;
    }
    ~TolvaneProcess() {
        if (!started_) return;
        if (!Exited(0)) ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, 5000);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    // A window of the process by class name, waiting up to ten seconds for it.
    // The hidden frame counts; a dialog only once it shows.
    HWND Window(const char* className) {
        return Search(
            [&](HWND window) {
                char name[64] = {};
                return ::GetClassNameA(window, name, sizeof name) && std::string(name) == className &&
                       (std::string(name) != "#32770" || ::IsWindowVisible(window));
            },
            200);
    }
    // The text of the message box the process shows, answered with OK; empty when none.
    std::string AnswerMessage() {
        HWND box = Window("#32770");
        if (!box) return "";
        std::string text = StaticText(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }
    // A visible window of the process with this title, waiting up to ten seconds for it.
    HWND TitledWindow(const std::string& title) {
        return Search([&](HWND window) { return ::IsWindowVisible(window) && WindowText(window) == title; }, 200);
    }
    // Answers the message box with this text with `button`; false when none came within
    // `seconds` (a download may come first).
    bool Answer(const std::string& text, int button, int seconds = 10) {
        HWND box = Search(
            [&](HWND window) { return ::IsWindowVisible(window) && IsDialog(window) && StaticText(window) == text; },
            seconds * 20);
        return box && ::PostMessageA(box, WM_COMMAND, button, 0);
    }
    // Whether a module of this file name is loaded into the process.
    bool HasModule(const char* name) {
        unique_handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, info_.dwProcessId));
        if (snapshot.get() == INVALID_HANDLE_VALUE) return false;
        MODULEENTRY32 module{};
        module.dwSize = sizeof module;
        for (BOOL more = ::Module32First(snapshot.get(), &module); more; more = ::Module32Next(snapshot.get(), &module))
            if (lstrcmpiA(module.szModule, name) == 0) return true;
        return false;
    }
    bool Exited(DWORD milliseconds) { return ::WaitForSingleObject(info_.hProcess, milliseconds) == WAIT_OBJECT_0; }
    DWORD ExitCode() {
        DWORD code = 0x5A5A;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    bool Started() const { return started_; }

private:
    // A visible window of the process that `match` accepts, looking `rounds` times.
    HWND Search(std::function<bool(HWND)> match, int rounds) {
        MatchSearch search{info_.dwProcessId, std::move(match), nullptr};
        for (int i = 0; i < rounds && started_ && !search.found && !Exited(0); ++i) {
            ::EnumWindows(FindMatchOf, reinterpret_cast<LPARAM>(&search));
            if (!search.found) ::Sleep(50);
        }
        return search.found;
    }

    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

class ProgramStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        ASSERT_EQ(S_OK, privacyModule_.Call("DllRegisterServer"));
    }
    void TearDown() override {
        scanModule_.Call("DllUnregisterServer");
        privacyModule_.Call("DllUnregisterServer");
    }
    ScopedProductKey productKey_;
    PluginModule scanModule_{"kwreng32.dll"};
    PluginModule privacyModule_{"hyseng32.dll"};
};

}  // namespace

TEST(DiagnosticArgument, IsTheLetterDAloneOrBehindASlashOrHyphen) {
    for (const char* yes : {"D", "d", "/d", "/D", "-D", "-d"}) EXPECT_TRUE(IsDiagnosticArgument(yes)) << yes;
    for (const char* no : {"", "/", "/Dx", "/X", "Debug", "//D", "-/D"}) EXPECT_FALSE(IsDiagnosticArgument(no)) << no;
}

TEST_F(ProgramStartTest, FirstStartWritesDefaultsAndASecondCopyEndsAtOnceWithoutSaving) {
    TolvaneProcess first;
    ASSERT_TRUE(first.Started());
    HWND frame = first.Window(kMainFrameClass);
    ASSERT_NE(nullptr, frame) << "exit code " << first.ExitCode();
    EXPECT_FALSE(::IsWindowVisible(frame)) << "the program starts hidden";
    EXPECT_EQ(1u, ReadDword(kProductKey, "Installed"));
    EXPECT_EQ(3u, ReadDword(kEngine, "EngMaj"));
    EXPECT_EQ(0u, ReadDword(kEngine, "EngMin"));
    EXPECT_EQ(2u, ReadDword(kEngine, "EngBld"));
    AppSettings stored{};
    const AppSettings defaults = DefaultAppSettings();
    LoadSettings(stored);
    EXPECT_EQ(0, std::memcmp(&stored.AutoScan, &defaults.AutoScan, offsetof(AppSettings, UpdateOptions)))
        << "every setting stored with its default";

    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo", "changed@example.org"));
    TolvaneProcess second;
    ASSERT_TRUE(second.Started());
    EXPECT_TRUE(second.Exited(10000));
    EXPECT_EQ(0u, second.ExitCode());
    EXPECT_EQ("changed@example.org", ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo"))
        << "the second copy saved settings it never loaded";

    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(frame, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 10000, &answer));
    EXPECT_EQ(TRUE, answer) << "the program lets Windows end";
    EXPECT_EQ(defaults.MailTo, ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo"))
        << "the settings the program holds are saved before Windows ends";
    ::PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(kSignaturesQuestion, first.AnswerMessage())
        << "the first run scans at start, and the frame closes only after that scan";
    EXPECT_TRUE(first.Exited(10000));
    EXPECT_EQ(0u, first.ExitCode());
}

// A start that shows nothing needs neither the common controls nor the network: comctl32,
// WinInet and Winsock are loaded when a window, an update or a mail first needs them.
TEST_F(ProgramStartTest, AStartIntoTheTrayLeavesTheWindowAndNetworkLibrariesUnloaded) {
    AppSettings quiet = DefaultAppSettings();
    quiet.AutoScan = 0;
    quiet.TimedScanning = 0;
    ASSERT_TRUE(SaveSettings(quiet));
    ASSERT_TRUE(SetDword(kProductKey, "Installed", 1));
    TolvaneProcess program;
    HWND frame = program.Window(kMainFrameClass);
    ASSERT_NE(nullptr, frame) << "exit code " << program.ExitCode();
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &answer)) << "start-up is over";
    EXPECT_TRUE(program.HasModule("kwreng32.dll")) << "both engines are created at start";
    EXPECT_TRUE(program.HasModule("hyseng32.dll"));
    for (const char* later : {"comctl32.dll", "wininet.dll", "ws2_32.dll"})
        EXPECT_FALSE(program.HasModule(later)) << later;

    ::PostMessageA(frame, WM_COMMAND, ID_OPEN, 0);
    HWND sheet = program.TitledWindow("Tolvane v3.5");
    ASSERT_NE(nullptr, sheet) << "the main window opens";
    EXPECT_TRUE(program.HasModule("comctl32.dll"));
    HWND page = reinterpret_cast<HWND>(::SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    char className[64] = {};
    ::GetClassNameA(::GetDlgItem(page, IDC_RESULT_LIST), className, sizeof className);
    EXPECT_STREQ(WC_LISTVIEWA, className) << "the Detect/Remove page has its list";
    ::PostMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(sheet, IDOK)));
    EXPECT_TRUE(program.Exited(10000)) << "Quit ends the program";
    EXPECT_EQ(0u, program.ExitCode());
}

TEST_F(ProgramStartTest, DiagnosticSwitchWritesTheInfoFileAndStartUpGoesOn) {
    ::DeleteFileA(kDiagnosticFile);
    TolvaneProcess program("/d");
    HWND frame = program.Window(kMainFrameClass);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ(2776u, ReadBytes(kDiagnosticFile).size());
    EXPECT_EQ(kSignaturesQuestion, program.AnswerMessage()) << "the scan at start goes on too";
    ::PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.Exited(10000));
    ::DeleteFileA(kDiagnosticFile);
}

TEST_F(ProgramStartTest, MissingScanEngineIsReportedWithItsCodeAndEndsTheProgram) {
    ASSERT_EQ(S_OK, scanModule_.Call("DllUnregisterServer"));
    TolvaneProcess program;
    EXPECT_EQ("Error loading scan engine.  Error code 80040154", program.AnswerMessage());
    EXPECT_TRUE(program.Exited(10000));
    EXPECT_EQ(0xFFFFFFFFu, program.ExitCode());
}

// The names in `folder`, to see that no temporary copy stays behind.
std::set<std::string> FolderFiles(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    unique_find find(::FindFirstFileA((folder + "\\*").c_str(), &data));
    if (find) {
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
        } while (::FindNextFileA(find.get(), &data));
    }
    return names;
}

class StagedEngines : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = CurrentDirectory();
        ASSERT_TRUE(::SetCurrentDirectoryA(work_.path().c_str()));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins_.path()));
        ASSERT_TRUE(WriteText(plugins_ / "kwreng32.dll", "old scan engine"));
        ASSERT_TRUE(WriteText(plugins_ / "hyseng32.dll", "old privacy engine"));
        ASSERT_TRUE(WriteText(work_ / "kwreng32.tmp", "new scan engine"));
        ASSERT_TRUE(WriteText(work_ / "hyseng32.tmp", "new privacy engine"));
    }
    void TearDown() override { ::SetCurrentDirectoryA(previous_.c_str()); }

    void ExpectOldModulesAndStagedFilesKept() {
        EXPECT_EQ("old scan engine", ReadText(plugins_ / "kwreng32.dll"));
        EXPECT_EQ("old privacy engine", ReadText(plugins_ / "hyseng32.dll"));
        EXPECT_EQ((std::set<std::string>{"hyseng32.dll", "kwreng32.dll"}), FolderFiles(plugins_.path()));
        EXPECT_EQ("new scan engine", ReadText(work_ / "kwreng32.tmp"));
        EXPECT_EQ("new privacy engine", ReadText(work_ / "hyseng32.tmp"));
        EXPECT_EQ(0xDEADBEEFu, ReadDword(kEngine, "EngMaj")) << "version of modules that were not installed";
    }

    ScopedProductKey productKey_;
    TempDir work_, plugins_;
    std::string previous_;
};

TEST_F(StagedEngines, AFailedCopyKeepsTheInstalledModulesAndTheDownloadForTheNextExit) {
    {
        // The second copy fails after the first succeeded, as on a disk that fills up.
        unique_file busy(::CreateFileA((work_ / "hyseng32.tmp").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(busy);
        EXPECT_EQ(EngineSwap::Kept, SwapStagedEngines(EngineVersion{3, 1, 5}));
    }
    ExpectOldModulesAndStagedFilesKept();

    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins_.path() + "\\missing"));
    EXPECT_EQ(EngineSwap::Kept, SwapStagedEngines(std::nullopt)) << "the recorded download, with no folder";
    ExpectOldModulesAndStagedFilesKept();

    // A later run that downloaded nothing puts the waiting modules in place.
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins_.path()));
    EXPECT_EQ(EngineSwap::Swapped, SwapStagedEngines(std::nullopt));
    EXPECT_EQ("new scan engine", ReadText(plugins_ / "kwreng32.dll"));
    EXPECT_EQ("new privacy engine", ReadText(plugins_ / "hyseng32.dll"));
    EXPECT_EQ((std::set<std::string>{"hyseng32.dll", "kwreng32.dll"}), FolderFiles(plugins_.path()));
    EXPECT_FALSE(FileExists(work_ / "kwreng32.tmp"));
    EXPECT_FALSE(FileExists(work_ / "hyseng32.tmp"));
    EXPECT_EQ(3u, ReadDword(kEngine, "EngMaj"));
    EXPECT_EQ(1u, ReadDword(kEngine, "EngMin"));
    EXPECT_EQ(5u, ReadDword(kEngine, "EngBld"));

    EXPECT_EQ(EngineSwap::NothingStaged, SwapStagedEngines(std::nullopt)) << "the record went with the swap";
}

TEST_F(StagedEngines, ADownloadOfThisRunIsSwappedAndNothingElseIsTouched) {
    EXPECT_EQ(EngineSwap::NothingStaged, SwapStagedEngines(std::nullopt));
    EXPECT_EQ("old scan engine", ReadText(plugins_ / "kwreng32.dll"));
    EXPECT_TRUE(FileExists(work_ / "kwreng32.tmp")) << "staged files of no record are left alone";

    EXPECT_EQ(EngineSwap::Swapped, SwapStagedEngines(EngineVersion{3, 2, 0}));
    EXPECT_EQ("new privacy engine", ReadText(plugins_ / "hyseng32.dll"));
    EXPECT_EQ((std::set<std::string>{"hyseng32.dll", "kwreng32.dll"}), FolderFiles(plugins_.path()));
    EXPECT_TRUE(FolderFiles(work_.path()).empty());
    EXPECT_EQ(2u, ReadDword(kEngine, "EngMin"));
}

// A signature file of the specimens, dated as the server announces it.
std::vector<std::uint8_t> DatedSignatures(std::uint16_t month, std::uint16_t day, std::uint16_t year) {
    std::vector<std::uint8_t> bytes = ReadBytes(ModuleDirectory() + "\\specimens\\tsigs.kws");
    SignatureFileHeader header{};
    if (bytes.size() < sizeof header) return bytes;
    std::memcpy(&header, bytes.data(), sizeof header);
    header.month = month;
    header.day = day;
    header.year = year;
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

// A file of the tree tools/publish wrote before the tests (CTest's update_publish): defs
// 1/1/2031, engine 3.0.3, signed with the key in update_keys\maker.pub.
std::vector<std::uint8_t> Published(const std::string& name) {
    return ReadBytes(ModuleDirectory() + "\\update_tree\\Updates\\" + name);
}

// The maker's public key as "updates.pub" beside Tolvane.exe, for the life of the scope.
class InstalledUpdateKey {
public:
    InstalledUpdateKey()
        : path_(ModuleDirectory() + "\\updates.pub"),
          placed_(::CopyFileA((ModuleDirectory() + "\\update_keys\\maker.pub").c_str(), path_.c_str(), FALSE) !=
                  FALSE) {}
    ~InstalledUpdateKey() {
        if (placed_) ::DeleteFileA(path_.c_str());
    }
    bool placed() const { return placed_; }

private:
    std::string path_;
    bool placed_;
};

// The program's own wiring to the update client, against the loopback server: a fresh
// installation without definitions (no "VirusDefsDate", no tsigs.kws) recovers through
// the question at start, then "Check for new definitions" on the status page, with the
// maker's key beside the program, fetches a newer published and signed tree, whose engines
// go in place only at the final exit, not while Windows asks to end the session with the
// engines loaded.
TEST_F(ProgramStartTest, RecoveryAtStartAndTheStatusPageRunTheRealUpdate) {
    LoopbackUpdateServer server;
    ASSERT_FALSE(server.Url().empty()) << "TOLVANE_UPDATE_SERVER names the loopback server's folder";
    ASSERT_TRUE(server.Clear());
    TempDir work, plugins;
    const std::string updateOptions = std::string(kProductKey) + "\\UpdateOptions";
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, updateOptions, "FTPServer", server.Url()));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, updateOptions, "Path", "/Updates/"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey + std::string("\\3.5"), "Path", work / "Tolvane.exe"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins.path()));
    ASSERT_TRUE(WriteText(plugins / "kwreng32.dll", "old scan engine"));
    ASSERT_TRUE(WriteText(plugins / "hyseng32.dll", "old privacy engine"));
    const std::vector<std::uint8_t> privacySigs = ReadBytes(ModuleDirectory() + "\\signatures\\psigs.kws");
    ASSERT_TRUE(WriteBytes(work / "psigs.kws", privacySigs));
    ASSERT_TRUE(server.ServeVersion("6/21/2000", 3, 0, 2));
    ASSERT_TRUE(server.Serve("tsigs.kws", DatedSignatures(6, 21, 2000)));
    ASSERT_TRUE(server.Serve("psigs.kws", privacySigs));
    const std::string downloaded = LoadMessage(IDS_UPDATE_DOWNLOADED);

    TolvaneProcess program("", work.path());
    ASSERT_TRUE(program.Answer(kSignaturesQuestion, IDYES)) << "exit code " << program.ExitCode();
    ASSERT_TRUE(program.Answer(downloaded, IDOK, 30));
    HWND frame = program.Window(kMainFrameClass);
    ASSERT_NE(nullptr, frame);
    // The engine stores the date when its Init has read the file, before the scan.
    std::string date;
    for (int i = 0; i < 200 && (date = ReadString(HKEY_LOCAL_MACHINE, kEngine, "VirusDefsDate")) == "<missing>"; ++i)
        ::Sleep(50);
    EXPECT_EQ("6/21/2000", date) << "the engine loaded the files";
    EXPECT_TRUE(program.Answer(LoadMessage(IDS_NO_TROJANS), IDOK)) << "the scan at start ran";
    // Answered once the scan at start is over and the frame takes messages again.
    DWORD_PTR answer = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_BLOCK, 30000, &answer));
    EXPECT_EQ(DatedSignatures(6, 21, 2000), ReadBytes(work / "tsigs.kws"));
    EXPECT_EQ((std::vector<std::string>{"/Updates/tsigs.ini", "/Updates/tsigs.kws", "/Updates/psigs.kws"}),
              server.Requested());

    ASSERT_TRUE(server.Clear());
    // This edition's modules, where its client asks for them.
    const std::string modules = EngineModuleFolder(kNativeMachine);
    for (std::string name : {std::string("tsigs.ini"), std::string("tsigs.kws"), std::string("psigs.kws"),
                             modules + "kwreng32.dl_", modules + "hyseng32.dl_"}) {
        ASSERT_TRUE(server.Serve(name, Published(name)));
        ASSERT_TRUE(server.Serve(name + ".sig", Published(name + ".sig")));
    }
    InstalledUpdateKey key;
    ASSERT_TRUE(key.placed());
    ::PostMessageA(frame, WM_COMMAND, ID_OPEN, 0);
    HWND sheet = program.TitledWindow("Tolvane v3.5");
    ASSERT_NE(nullptr, sheet);
    DWORD_PTR pages = 0, page = 0;
    HWND tabs = reinterpret_cast<HWND>(::SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    ASSERT_TRUE(::SendMessageTimeoutA(tabs, TCM_GETITEMCOUNT, 0, 0, SMTO_BLOCK, 10000, &pages));
    ASSERT_TRUE(::SendMessageTimeoutA(sheet, PSM_SETCURSEL, pages - 1, 0, SMTO_BLOCK, 10000, &page));
    ASSERT_TRUE(::SendMessageTimeoutA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0, SMTO_BLOCK, 10000, &page));
    HWND statusPage = reinterpret_cast<HWND>(page);
    ::PostMessageA(statusPage, WM_COMMAND, MAKEWPARAM(IDC_CHECK_DEFINITIONS, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(statusPage, IDC_CHECK_DEFINITIONS)));
    ASSERT_TRUE(program.Answer(downloaded, IDOK, 60));
    EXPECT_EQ(Published("tsigs.kws"), ReadBytes(work / "tsigs.kws"));
    EXPECT_EQ(Published(modules + "kwreng32.dl_"), ReadBytes(work / "kwreng32.tmp"));
    EXPECT_EQ(Published(modules + "hyseng32.dl_"), ReadBytes(work / "hyseng32.tmp"));
    EXPECT_EQ(10u, server.Requested().size()) << "each file and its signature, checked with the key";

    ASSERT_TRUE(::SendMessageTimeoutA(frame, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, 10000, &answer));
    EXPECT_EQ(TRUE, answer);
    // Compared as a whole: a module put in place here would print as megabytes of text.
    EXPECT_TRUE(ReadText(plugins / "kwreng32.dll") == "old scan engine") << "replaced while the engines are loaded";
    EXPECT_EQ(2u, ReadDword(kEngine, "EngBld"));
    ::PostMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(sheet, IDOK)));
    ASSERT_TRUE(program.Exited(10000)) << "Quit ends the program";
    EXPECT_EQ(0u, program.ExitCode());
    EXPECT_EQ(Published(modules + "kwreng32.dl_"), ReadBytes(plugins / "kwreng32.dll")) << "the final exit swaps";
    EXPECT_EQ(Published(modules + "hyseng32.dl_"), ReadBytes(plugins / "hyseng32.dll"));
    EXPECT_EQ(3u, ReadDword(kEngine, "EngBld"));
    EXPECT_FALSE(FileExists(work / "kwreng32.tmp"));
    EXPECT_FALSE(FileExists(work / "hyseng32.tmp"));
}

// Tolvane.exe started as the user starts it: one copy at a time, the defaults of a first
// run, the diagnostic switch, a missing scan engine, and the staged engine modules put
// in place at exit.
#include "app_globals.h"
#include "app_test_support.h"
#include "diagnostic_dump.h"
#include "main_frame.h"
#include "plugin_module.h"
#include "registry_support.h"
#include "settings_store.h"
#include "staged_engines.h"
#include "test_support.h"
#include "tolvane_app.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

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

struct WindowSearch {
    DWORD process;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<WindowSearch*>(search);
    DWORD process = 0;
    char className[64];
    ::GetWindowThreadProcessId(window, &process);
    if (process == s->process && ::GetClassNameA(window, className, sizeof className) &&
        std::string(className) == s->className &&
        (std::string(className) != "#32770" || ::IsWindowVisible(window))) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// Tolvane.exe from beside the test program, run in the folder of the privacy signatures.
class TolvaneProcess {
public:
    explicit TolvaneProcess(const std::string& arguments = "") {
        std::string exe = ModuleDirectory() + "\\Tolvane.exe";
        std::string command = "\"" + exe + "\" " + arguments;
        std::string folder = ModuleDirectory() + "\\signatures";
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
    HWND Window(const char* className) {
        WindowSearch search{info_.dwProcessId, className, nullptr};
        for (int i = 0; i < 200 && started_ && !search.found && !Exited(0); ++i) {
            ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
            if (!search.found) ::Sleep(50);
        }
        return search.found;
    }
    // The text of the message box the process shows, answered with OK; empty when none.
    std::string AnswerMessage() {
        HWND box = Window("#32770");
        if (!box) return "";
        std::string text = StaticText(box);
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        return text;
    }
    bool Exited(DWORD milliseconds) { return ::WaitForSingleObject(info_.hProcess, milliseconds) == WAIT_OBJECT_0; }
    DWORD ExitCode() {
        DWORD code = 0x5A5A;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    bool Started() const { return started_; }

private:
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
    LoadSettings(stored);
    EXPECT_EQ(0, std::memcmp(&stored.AutoScan, &Settings().AutoScan, offsetof(AppSettings, UpdateOptions)))
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
    EXPECT_EQ(Settings().MailTo, ReadString(HKEY_LOCAL_MACHINE, kAdminAlert, "MailTo"))
        << "the settings the program holds are saved before Windows ends";
    ::PostMessageA(frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(kSignaturesQuestion, first.AnswerMessage())
        << "the first run scans at start, and the frame closes only after that scan";
    EXPECT_TRUE(first.Exited(10000));
    EXPECT_EQ(0u, first.ExitCode());
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

TEST(StagedEngines, ReplaceTheInstalledModulesAndRecordTheirVersionOnlyWhenBothAreCopied) {
    ScopedProductKey productKey;
    TempDir work, plugins;
    std::string previous = CurrentDirectory();
    ASSERT_TRUE(::SetCurrentDirectoryA(work.path().c_str()));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins.path() + "\\missing"));
    ASSERT_TRUE(WriteText(work / "kwreng32.tmp", "new scan engine"));
    ASSERT_TRUE(WriteText(work / "hyseng32.tmp", "new privacy engine"));
    EXPECT_FALSE(SwapStagedEngines(EngineVersion{3, 1, 5}));
    EXPECT_FALSE(FileExists(work / "kwreng32.tmp"));
    EXPECT_EQ(0xDEADBEEFu, ReadDword(kEngine, "EngMaj")) << "version of modules that were not installed";

    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kProductKey, "PluginsDir", plugins.path()));
    ASSERT_TRUE(WriteText(work / "kwreng32.tmp", "new scan engine"));
    ASSERT_TRUE(WriteText(work / "hyseng32.tmp", "new privacy engine"));
    ASSERT_TRUE(WriteText(plugins / "kwreng32.dll", "old"));
    EXPECT_TRUE(SwapStagedEngines(EngineVersion{3, 1, 5}));
    EXPECT_EQ("new scan engine", ReadText(plugins / "kwreng32.dll"));
    EXPECT_EQ("new privacy engine", ReadText(plugins / "hyseng32.dll"));
    EXPECT_FALSE(FileExists(work / "kwreng32.tmp"));
    EXPECT_FALSE(FileExists(work / "hyseng32.tmp"));
    EXPECT_EQ(1u, ReadDword(kEngine, "EngMin"));
    EXPECT_EQ(5u, ReadDword(kEngine, "EngBld"));
    ::SetCurrentDirectoryA(previous.c_str());
}

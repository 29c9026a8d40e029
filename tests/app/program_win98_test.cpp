// Tolvane.exe installed and run as Windows 98 runs it (Wine reports Windows 98 to this
// test program and, through the same per-program setting, to the program it starts):
// the scan at start lists processes through Toolhelp32 and leaves the autostart keys
// alone, and the Detect/Remove page's Remove ends the trojan and quarantines its file.
#include "app_test_support.h"
#include "engine/specimen_fixture.h"
#include "main_frame.h"
#include "plugin_module.h"
#include "process_inspector.h"
#include "resource.h"
#include "settings/app_globals.h"
#include "settings/settings_store.h"

#include <commctrl.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr char kProgramAppDefaults[] = "Software\\Wine\\AppDefaults\\Tolvane.exe";

// The program as the installer leaves it, started in its folder; ended if the test
// leaves it running.
class InstalledProgram {
public:
    explicit InstalledProgram(const std::string& folder) {
        std::string exe = folder + "\\Tolvane.exe";
        std::string command = "\"" + exe + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                              &startup, &info))
            return;
        process_.reset(info.hProcess);
        thread_.reset(info.hThread);
        id_ = info.dwProcessId;
    }
    ~InstalledProgram() {
        if (!process_) return;
        if (!Exited(10000)) ::TerminateProcess(process_.get(), 1);
        ::WaitForSingleObject(process_.get(), 5000);
    }
    bool Started() const { return static_cast<bool>(process_); }
    HWND Window(const char* className, const char* title) {
        return WaitForProcessWindow(process_.get(), id_, className, title);
    }
    // The text of the program's message box; empty when none came.
    std::string MessageText() {
        HWND box = Window("#32770", "Tolvane");
        return box ? StaticText(box) : "";
    }
    bool Exited(DWORD milliseconds) { return ::WaitForSingleObject(process_.get(), milliseconds) == WAIT_OBJECT_0; }
    DWORD ExitCode() {
        DWORD code = 0x5A5A;
        ::GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    unique_handle process_;
    unique_handle thread_;
    DWORD id_ = 0;
};

// The name Toolhelp32 lists a process under: Windows 98 gives the full path, Wine the
// file name alone. Empty until the process is listed.
std::string ListedName(const std::string& path, DWORD processId) {
    ProcessInspector inspector;
    std::string name = path.substr(path.find_last_of('\\') + 1);
    for (const std::string& listed : {path, name})
        if (inspector.FindProcessId(listed.c_str()) == processId) return listed;
    return std::string();
}

void PostClick(HWND dialog, int id) {
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}

class ProgramOnWindows98 : public SpecimenEngineTest {
protected:
    void SetUp() override {
        SpecimenEngineTest::SetUp();
        ASSERT_EQ(S_OK, scanModule_.Call("DllRegisterServer"));
        // Installed beside its signature file, where the product key's Path points.
        ASSERT_TRUE(::CopyFileA((ModuleDirectory() + "\\Tolvane.exe").c_str(), (folder_ + "\\Tolvane.exe").c_str(),
                                FALSE));
        AppSettings settings = DefaultAppSettings();
        settings.AutoScan = 1;
        settings.ShowUIOnTrojan = 1;
        settings.SilentMode = 1;
        ASSERT_TRUE(SaveSettings(settings));
        ASSERT_TRUE(SetDword(kProductKey, "Installed", 1));
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kProgramAppDefaults, "Version", "win98"));
    }
    void TearDown() override {
        scanModule_.Call("DllUnregisterServer");
        SpecimenEngineTest::TearDown();
    }
    bool EndedWithin(std::size_t index, DWORD milliseconds) {
        return ::WaitForSingleObject(processes_.at(index).hProcess, milliseconds) == WAIT_OBJECT_0;
    }

    PluginModule scanModule_{"kwreng32.dll"};
    ScopedKeyValues appDefaults_{HKEY_CURRENT_USER, kProgramAppDefaults, true};
};

}  // namespace

TEST_F(ProgramOnWindows98, ScanAtStartListsTheRunningTrojanAndRemoveEndsAndQuarantinesIt) {
    ASSERT_NE(0u, ::GetVersion() & 0x80000000u) << "this program must see Windows 9x";
    // In the program's own folder, where a name without its folder finds it too.
    std::string path = Place("netbus_350000.exe");
    // Found on Windows NT through Run; Windows 98 looks at running processes only.
    std::string onlyInRun = Place("deepthroat_100000.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", onlyInRun));
    Start(path, false);
    std::string listed;
    for (int i = 0; i < 200 && (listed = ListedName(path, processes_[0].dwProcessId)).empty(); ++i) ::Sleep(50);
    ASSERT_FALSE(listed.empty()) << "Toolhelp32 does not list " << path;

    InstalledProgram program(folder_);
    ASSERT_TRUE(program.Started());
    HWND sheet = program.Window("#32770", "Tolvane v3.5");
    ASSERT_NE(nullptr, sheet) << "the scan at start opens the main window; shown instead: " << program.MessageText();
    HWND page = reinterpret_cast<HWND>(::SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    // Another process's list hands out its count, not its texts; the log names the file
    // once the engine run is closed.
    EXPECT_EQ(1, ::SendDlgItemMessageA(page, IDC_RESULT_LIST, LVM_GETITEMCOUNT, 0, 0))
        << "the running trojan, and not the one only named in Run";
    EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(page, IDC_REMOVE)));

    PostClick(page, IDC_REMOVE);
    HWND box = program.Window("#32770", "Tolvane");
    ASSERT_NE(nullptr, box) << "no word on the removal";
    EXPECT_EQ("Removal Succeeded! All detected trojans have been terminated.", StaticText(box));
    PostClick(box, IDOK);
    EXPECT_TRUE(EndedWithin(0, 10000)) << "the trojan still runs";
    std::vector<std::uint8_t> quarantined = ReadBytes(folder_ + "\\Infected Files\\netbus_350000.exe.KWR");
    ASSERT_GE(quarantined.size(), 260u);
    EXPECT_EQ(listed, std::string(reinterpret_cast<const char*>(quarantined.data())));
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(FileExists(onlyInRun));
    EXPECT_EQ(0, ::SendDlgItemMessageA(page, IDC_RESULT_LIST, LVM_GETITEMCOUNT, 0, 0));
    std::string log = ReadText(folder_ + "\\Tolvane.log");
    EXPECT_NE(std::string::npos, log.find(listed)) << log;
    EXPECT_EQ(std::string::npos, log.find("deepthroat")) << log;

    PostClick(sheet, IDCANCEL);
    for (int i = 0; i < 100 && ::IsWindow(sheet); ++i) ::Sleep(50);
    // Back in the tray: the hidden frame takes the menu's "Exit".
    HWND frame = ::FindWindowA(kMainFrameClass, nullptr);
    ASSERT_NE(nullptr, frame);
    ::PostMessageA(frame, WM_COMMAND, ID_APP_EXIT, 0);
    EXPECT_TRUE(program.Exited(10000)) << "\"Exit\" ends the program";
    EXPECT_EQ(0u, program.ExitCode());
}

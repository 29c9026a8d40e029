// Each trojan family found and removed through the ScanEngine object of kwreng32.dll,
// with the harmless specimens as the trojans: the file check and CreateDetector decide,
// the running specimen is stopped, its files quarantined and its autostart entries
// (Run, RunServices, the exefile open command, WIN.INI and system.ini) undone.
#include "detectors/trojan_detector.h"
#include "kwreng32.h"
#include "process_inspector.h"
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <thread>

using Microsoft::WRL::ComPtr;
using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunServices[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices";
constexpr char kExefileCommand[] = "exefile\\shell\\open\\command";
constexpr char kSep[] = "**KWR**";
const std::string kVersionKey = std::string(kProductKey) + "\\3.5";
const std::string kEngineKey = std::string(kProductKey) + "\\Engine";

std::string Directory(UINT(WINAPI* get)(LPSTR, UINT)) {
    char buffer[MAX_PATH];
    return std::string(buffer, get(buffer, sizeof buffer));
}
std::string SystemDir() { return Directory(::GetSystemDirectoryA); }
std::string WindowsDir() { return Directory(::GetWindowsDirectoryA); }

// A profile line given back as it was, absent lines removed again.
class ScopedProfileLine {
public:
    ScopedProfileLine(const char* section, const char* key, const char* profile)
        : section_(section), key_(key), profile_(profile) {
        saved_ = Read();
    }
    ~ScopedProfileLine() { Write(saved_ == "-NONE-" ? nullptr : saved_.c_str()); }
    // Trailing spaces trimmed: profile readers differ in keeping them.
    std::string Trimmed() const {
        std::string value = Read();
        return value.substr(0, value.find_last_not_of(' ') + 1);
    }
    std::string Read() const {
        char value[1024];
        if (profile_) ::GetPrivateProfileStringA(section_, key_, "-NONE-", value, sizeof value, profile_);
        else ::GetProfileStringA(section_, key_, "-NONE-", value, sizeof value);
        return value;
    }
    void Write(const char* value) const {
        if (profile_) ::WritePrivateProfileStringA(section_, key_, value, profile_);
        else ::WriteProfileStringA(section_, key_, value);
    }

private:
    const char* section_;
    const char* key_;
    const char* profile_;
    std::string saved_;
};

// Answers the message boxes this process shows and keeps their texts.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() : thread_([this] { Watch(); }) {}
    ~MessageBoxCatcher() { Texts(); }
    std::vector<std::string> Texts() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return texts_;
    }

private:
    static BOOL CALLBACK CollectText(HWND child, LPARAM text) {
        char buffer[2048];
        if (!::GetClassNameA(child, buffer, sizeof buffer) || ::lstrcmpiA(buffer, "Static") != 0) return TRUE;
        int n = ::GetWindowTextA(child, buffer, sizeof buffer);
        if (n > 0) *reinterpret_cast<std::string*>(text) += std::string(buffer, n);
        return TRUE;
    }
    static BOOL CALLBACK FindBox(HWND window, LPARAM found) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        char className[16];
        if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
            ::GetClassNameA(window, className, sizeof className) && std::string(className) == "#32770") {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }
    void Watch() {
        while (!stop_) {
            HWND box = nullptr;
            ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
            if (box) {
                std::string text;
                ::EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));
                texts_.push_back(text);
                ::SendMessageA(box, WM_COMMAND, IDOK, 0);
            }
            ::Sleep(50);
        }
    }

    std::atomic<bool> stop_{false};
    std::vector<std::string> texts_;
    std::thread thread_;
};

class DetectorRemovalTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The autostart lookup cuts commands at "-" and "/", so the specimens live in a
        // folder whose path has neither.
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        static int counter = 0;
        folder_ = std::string(temp) + "tvremoval" + std::to_string(::GetCurrentProcessId()) + "x" +
                  std::to_string(++counter);
        ASSERT_EQ(std::string::npos, folder_.find_first_of("-/")) << folder_;
        ASSERT_TRUE(::CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
        ASSERT_TRUE(::CreateDirectoryA((folder_ + "\\work").c_str(), nullptr));
        previousDirectory_ = CurrentDirectory();
        ::SetCurrentDirectoryA((folder_ + "\\work").c_str());

        module_.reset(::LoadLibraryA((ModuleDirectory() + "\\kwreng32.dll").c_str()));
        ASSERT_TRUE(module_);
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kVersionKey, "Path", folder_ + "\\Tolvane.exe"));
        ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kEngineKey, "Placeholder", ""));
        ASSERT_TRUE(::CopyFileA((ModuleDirectory() + "\\specimens\\tsigs.kws").c_str(),
                                (folder_ + "\\tsigs.kws").c_str(), FALSE));
        using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto get = reinterpret_cast<GetClassObject>(::GetProcAddress(module_.get(), "DllGetClassObject"));
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, get(CLSID_ScanEngine, IID_PPV_ARGS(&factory)));
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_PPV_ARGS(&engine_)));
        ASSERT_EQ(S_OK, engine_->Init(0, 1));
    }
    void TearDown() override {
        if (engine_) engine_->Close();
        engine_.Reset();
        for (auto& process : processes_) {
            ::TerminateProcess(process.hProcess, 1);
            ::WaitForSingleObject(process.hProcess, 5000);
            ::CloseHandle(process.hThread);
            ::CloseHandle(process.hProcess);
        }
        for (const auto& file : outsideFiles_) ::DeleteFileA(file.c_str());
        ::SetCurrentDirectoryA(previousDirectory_.c_str());
        RemoveTree(folder_);
    }

    // A copy of a specimen in the scratch folder (or a subfolder of it).
    std::string Place(const std::string& specimen, const std::string& subfolder = "",
                      const std::string& name = "") {
        std::string folder = subfolder.empty() ? folder_ : folder_ + "\\" + subfolder;
        ::CreateDirectoryA(folder.c_str(), nullptr);
        std::string path = folder + "\\" + (name.empty() ? specimen : name);
        EXPECT_TRUE(::CopyFileA((ModuleDirectory() + "\\specimens\\" + specimen).c_str(), path.c_str(), FALSE))
            << path;
        return path;
    }
    // A companion file outside the scratch folder, deleted after the test.
    void PlaceOutside(const std::string& path) {
        outsideFiles_.push_back(path);
        ASSERT_TRUE(WriteText(path, "companion")) << path;
    }
    void Start(const std::string& path) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        std::string command = "\"" + path + "\"";
        ASSERT_TRUE(::CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                     nullptr, nullptr, &startup, &info))
            << path << " error " << ::GetLastError();
        processes_.push_back(info);
        ProcessInspector inspector;
        for (int i = 0; i < 200 && inspector.FindProcessId(path.c_str()) != info.dwProcessId; ++i) ::Sleep(50);
        ASSERT_EQ(info.dwProcessId, inspector.FindProcessId(path.c_str())) << "specimen not listed: " << path;
    }
    bool Ended(std::size_t index) { return ::WaitForSingleObject(processes_.at(index).hProcess, 0) == WAIT_OBJECT_0; }

    unsigned long Scan(const std::string& path) {
        unique_bstr name(::SysAllocString(std::wstring(path.begin(), path.end()).c_str()));
        unsigned long code = 0xDEADBEEF;
        EXPECT_EQ(S_OK, engine_->ScanFile(name.get(), &code)) << path;
        return code;
    }
    std::vector<std::string> Rows() {
        VARIANT list;
        ::VariantInit(&list);
        std::vector<std::string> rows;
        if (engine_->get_ProcessList(&list) != S_OK) return {"<ProcessList failed>"};
        LONG upper = -1;
        ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            BSTR row = nullptr;
            ::SafeArrayGetElement(V_ARRAY(&list), &i, &row);
            std::wstring wide(row, ::SysStringLen(row));
            rows.emplace_back(wide.begin(), wide.end());
            ::SysFreeString(row);
        }
        ::VariantClear(&list);
        return rows;
    }
    static std::string Row(const std::string& type, const std::string& path, const std::string& entry) {
        return type + kSep + path + kSep + entry;
    }
    void RemoveAll() {
        long removed = 0x5A5A;
        EXPECT_EQ(S_OK, engine_->RemoveOrx(&removed));
        EXPECT_EQ(1, removed);
    }
    std::string Quarantined(const std::string& name) const { return folder_ + "\\work\\Infected Files\\" + name; }
    // The quarantine file exists and names `original` as its former place.
    void ExpectQuarantined(const std::string& name, const std::string& original) {
        auto bytes = ReadBytes(Quarantined(name));
        ASSERT_GE(bytes.size(), 260u) << name;
        EXPECT_EQ(original, std::string(reinterpret_cast<const char*>(bytes.data()))) << name;
        EXPECT_FALSE(FileExists(original)) << original;
    }

    std::string folder_;
    std::string previousDirectory_;
    ScopedProductKey productKey_;
    ScopedKeyValues run_{HKEY_LOCAL_MACHINE, kRun, true};
    ScopedKeyValues runServices_{HKEY_LOCAL_MACHINE, kRunServices, true};
    ScopedKeyValues exefile_{HKEY_CLASSES_ROOT, kExefileCommand, false};
    ScopedProfileLine load_{"windows", "load", nullptr};
    ScopedProfileLine runLine_{"windows", "run", nullptr};
    ScopedProfileLine shell_{"boot", "shell", "system.ini"};
    unique_hmodule module_;
    ComPtr<IScanEngineShellExtHelper> engine_;
    std::vector<PROCESS_INFORMATION> processes_;
    std::vector<std::string> outsideFiles_;
};

}  // namespace

TEST_F(DetectorRemovalTest, BackOrificeBlockAt124888NamesInstallFileAndRunServicesValue) {
    std::string path = Place("bo_config_124888.exe");
    PlaceOutside(SystemDir() + "\\tvbo_inst.exe");
    PlaceOutside(SystemDir() + "\\windll.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvBoConfigured", path));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "Other", "C:\\other.exe"));
    Start(path);
    EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "TvBoConfigured")}, Rows());
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    ExpectQuarantined("bo_config_124888.exe.KWR", path);
    ExpectQuarantined("tvbo_inst.exe.KWR", SystemDir() + "\\tvbo_inst.exe");
    ExpectQuarantined("windll.dll.KWR", SystemDir() + "\\windll.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvBoConfigured"));
    EXPECT_EQ("C:\\other.exe", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "Other"));
}

TEST_F(DetectorRemovalTest, BackOrificeBlockAt77436WithADriveInTheInstallName) {
    std::string path = Place("bo_config_77436.exe");
    PlaceOutside("C:\\tvbo_drive.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "C:\\tvbo_drive.exe", "C:\\tvbo_drive.exe"));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "C:\\tvbo_drive.exe")}, Rows());
    RemoveAll();
    ExpectQuarantined("bo_config_77436.exe.KWR", path);
    ExpectQuarantined("tvbo_drive.exe.KWR", "C:\\tvbo_drive.exe");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "C:\\tvbo_drive.exe"));
}

TEST_F(DetectorRemovalTest, BackOrificeWithBuiltInSettingsAndASpaceNameUsesTheDefaultValue) {
    std::string path = Place(" .exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, nullptr, path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "<Default>")}, Rows());
    RemoveAll();
    ExpectQuarantined("BACKORIFICE.KWR", path);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, nullptr));
}

TEST_F(DetectorRemovalTest, BackOrificeNeedsSixtyThousandBytesAndAProcessToRemove) {
    std::string shortOne = Place("bo_59999.exe");
    EXPECT_EQ(1u, Scan(shortOne));
    EXPECT_TRUE(Rows().empty()) << "59999 bytes is clean";
    std::string path = Place("bo_60000.exe");
    EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ(std::vector<std::string>{Row("Back Orifice", path, "<Default>")}, Rows());

    long removed = 0x5A5A;
    EXPECT_EQ(S_FALSE, engine_->RemoveOrx(&removed)) << "no process to stop";
    EXPECT_EQ(0, removed);
    EXPECT_TRUE(FileExists(path));
}

TEST_F(DetectorRemovalTest, FilesShorterThanTheFingerprintAreNeverReported) {
    auto bytes = ReadBytes(ModuleDirectory() + "\\specimens\\bo2k.exe");
    bytes.resize(499);
    std::string path = folder_ + "\\short.exe";
    ASSERT_TRUE(WriteBytes(path, bytes));
    EXPECT_EQ(1u, Scan(path));
    EXPECT_TRUE(Rows().empty());
}

TEST_F(DetectorRemovalTest, NetBusTakesItsWindowsCopyKeyHookAndTheValueFound) {
    EXPECT_EQ(1u, Scan(Place("netbus_349999.exe")));
    EXPECT_TRUE(Rows().empty()) << "349999 bytes is clean";
    std::string path = Place("netbus_350000.exe");
    std::string copy = WindowsDir() + "\\netbus_350000.exe";
    PlaceOutside(copy);
    PlaceOutside(WindowsDir() + "\\KeyHook.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus", path + " /nomsg"));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("NetBus", path, "TvNetBus")}, Rows());
    RemoveAll();
    EXPECT_FALSE(FileExists(path));
    ExpectQuarantined("netbus_350000.exe.KWR", copy);  // the later of the two of that name
    ExpectQuarantined("KeyHook.dll.KWR", WindowsDir() + "\\KeyHook.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvNetBus"));
}

TEST_F(DetectorRemovalTest, DeepThroatDeletesSystemDll32AndQuarantinesSystemio) {
    EXPECT_EQ(1u, Scan(Place("deepthroat_99999.exe")));
    EXPECT_TRUE(Rows().empty()) << "99999 bytes is clean";
    std::string path = Place("deepthroat_100000.exe");
    PlaceOutside(SystemDir() + "\\systemio.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", path, "SystemDLL32")}, Rows());
    RemoveAll();
    ExpectQuarantined("deepthroat_100000.exe.KWR", path);
    ExpectQuarantined("systemio.exe.KWR", SystemDir() + "\\systemio.exe");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "SystemDLL32"));
}

TEST_F(DetectorRemovalTest, DeepThroatPosingAsTheTrayGivesTheTrayValueBack) {
    std::string path = Place("deepthroat_systray.exe", "SysTray");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "Systemtray", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("DeepThroat", path, "Systemtray")}, Rows());
    RemoveAll();
    ExpectQuarantined("deepthroat_systray.exe.KWR", path);
    EXPECT_EQ(SystemDir() + "\\systray.exe", ReadString(HKEY_LOCAL_MACHINE, kRun, "Systemtray"));
}

TEST_F(DetectorRemovalTest, SkSilencerAndHackAttackLoseTheValuesTheLookupFound) {
    std::string silencer = Place("sksilencer.exe");
    std::string hack = Place("hackattack.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer", silencer));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvHack", hack));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "Keep", "C:\\keep.exe"));
    Start(silencer);
    Start(hack);
    Scan(silencer);
    Scan(hack);
    ASSERT_EQ((std::vector<std::string>{Row("HackAttack", hack, "TvHack"), Row("SkSilencer", silencer, "TvSilencer")}),
              Rows())
        << "newest first";
    RemoveAll();
    EXPECT_TRUE(Ended(0));
    EXPECT_TRUE(Ended(1));
    ExpectQuarantined("sksilencer.exe.KWR", silencer);
    ExpectQuarantined("hackattack.exe.KWR", hack);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSilencer"));
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvHack"));
    EXPECT_EQ("C:\\keep.exe", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "Keep"));
}

TEST_F(DetectorRemovalTest, PrettyParkResetsTheOpenCommandOfPrograms) {
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "C:\\pp.exe \"%1\" %*"));
    std::string path = Place("prettypark.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("PrettyPark", path, "exefile\\shell\\open\\command")}, Rows());
    RemoveAll();
    ExpectQuarantined("prettypark.exe.KWR", path);
    EXPECT_EQ("\"%1\" %*", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr));
}

TEST_F(DetectorRemovalTest, SubSevenWithoutAValueCleansTheIniLinesAndTheOpenCommand) {
    load_.Write("subseven.exe notepad.exe");
    runLine_.Write("SUBSEVEN.EXE,x");
    shell_.Write("Explorer.exe subseven.exe");
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "C:\\s7.exe %1"));
    std::string path = Place("subseven.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "None")}, Rows());
    RemoveAll();
    ExpectQuarantined("subseven.exe.KWR", path);
    EXPECT_EQ("notepad.exe", load_.Trimmed());
    EXPECT_EQ("", runLine_.Read());
    EXPECT_EQ("Explorer.exe", shell_.Trimmed());
    EXPECT_EQ("\"%1\" %*", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr));
}

TEST_F(DetectorRemovalTest, SubSevenWithAValueLeavesTheIniLines) {
    load_.Write("subseven.exe");
    ASSERT_TRUE(SetString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr, "\"%1\" %* tail"));
    std::string path = Place("subseven.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "TvSub7", path));
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("SubSeven", path, "TvSub7")}, Rows());
    RemoveAll();
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "TvSub7"));
    EXPECT_EQ("subseven.exe", load_.Read());
    EXPECT_EQ("\"%1\" %* tail", ReadString(HKEY_CLASSES_ROOT, kExefileCommand, nullptr))
        << "a command that begins right is left alone";
}

TEST_F(DetectorRemovalTest, AttackFtpRemovesReminderAndItsDropperAndThenShowsTheDropper) {
    std::string path = Place("attackftp.exe");
    std::string dropper = SystemDir() + "\\wscan.exe";
    PlaceOutside(dropper);
    PlaceOutside(WindowsDir() + "\\wver.dll");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRun, "Reminder", "C:\\whatever.exe"));
    load_.Write("wscan.exe");
    shell_.Write("Explorer.exe WSCAN.EXE attackftp.exe");
    Start(path);
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("AttackFTP", path, "Reminder")}, Rows());
    RemoveAll();
    ExpectQuarantined("attackftp.exe.KWR", path);
    ExpectQuarantined("wscan.exe.KWR", dropper);
    ExpectQuarantined("wver.dll.KWR", WindowsDir() + "\\wver.dll");
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRun, "Reminder"));
    EXPECT_EQ("", load_.Read());
    EXPECT_EQ("Explorer.exe attackftp.exe", shell_.Trimmed()) << "only the dropper's tokens go";
    EXPECT_EQ(std::vector<std::string>{Row("AttackFTP", dropper, "Reminder")}, Rows());
}

TEST_F(DetectorRemovalTest, Bo2kStandInsAreReportedOnlyWithAPluginsSection) {
    for (const char* clean : {"setupdm_plain.exe", "sockets_plain.exe"}) EXPECT_EQ(1u, Scan(Place(clean)));
    EXPECT_TRUE(Rows().empty()) << "types 3 and 5 without .plugins are clean";
    std::string masters = Place("masters_plugins.exe");
    std::string unlisted = Place("unlisted_plugins.exe");
    std::string setup = Place("setupdm_plugins.exe");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvSetup", setup));
    Start(setup);
    for (const auto& path : {masters, unlisted, setup}) EXPECT_EQ(1u, Scan(path));
    ASSERT_EQ((std::vector<std::string>{Row("Bo2k", setup, "TvSetup"), Row("Bo2k", unlisted, "None"),
                                        Row("Bo2k", masters, "None")}),
              Rows());
    // The running one first; the others have no process and end with the file-in-use note.
    MessageBoxCatcher catcher;
    RemoveAll();
    EXPECT_EQ(2u, catcher.Texts().size());
    ExpectQuarantined("setupdm_plugins.exe.KWR", setup);
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvSetup"));
    EXPECT_TRUE(FileExists(masters)) << "a file without a process stays";
}

TEST_F(DetectorRemovalTest, PluginsSectionIsReadWithoutLoadingTheModule) {
    ::SetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", nullptr);
    std::string probe = Place("plugins_probe.dll");
    EXPECT_EQ(1u, Scan(probe));
    EXPECT_EQ(std::vector<std::string>{Row("Bo2k", probe, "None")}, Rows()) << "no signature entry, a .plugins section";
    char loaded[8] = "";
    EXPECT_EQ(0u, ::GetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", loaded, sizeof loaded))
        << "the module's entry point ran: " << loaded;

    // The probe itself reports when it is loaded, so the test above can fail.
    unique_hmodule module(::LoadLibraryA(probe.c_str()));
    ASSERT_TRUE(module);
    EXPECT_NE(0u, ::GetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", loaded, sizeof loaded));
    ::SetEnvironmentVariableA("TOLVANE_SPECIMEN_LOADED", nullptr);
}

TEST_F(DetectorRemovalTest, Bo2kWithoutProcessShowsTheShortPathAndStillRemovesTheValue) {
    std::string path = Place("bo2k.exe", "Long Folder Name");
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kRunServices, "TvBo2k", path));
    Scan(path);
    ASSERT_EQ(std::vector<std::string>{Row("Bo2k", path, "TvBo2k")}, Rows());
    char shortPath[MAX_PATH];
    ASSERT_GT(::GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath), 0u);
    ASSERT_NE(path, shortPath);
    MessageBoxCatcher catcher;
    RemoveAll();
    EXPECT_EQ(std::vector<std::string>{FileInUseMessage(shortPath)}, catcher.Texts());
    EXPECT_EQ("<missing>", ReadString(HKEY_LOCAL_MACHINE, kRunServices, "TvBo2k"));
    EXPECT_TRUE(FileExists(path));
}

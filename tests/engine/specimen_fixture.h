// The ScanEngine of kwreng32.dll with the harmless specimens as trojans: a scratch
// folder holding the specimens and their signature file, the product key, Run and
// RunServices, the exefile open command and the WIN.INI / system.ini lines saved and
// given back, and every specimen process the test started ended.
#pragma once

#include "detectors/trojan_detector.h"
#include "kwreng32.h"
#include "process_inspector.h"
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"
#include "windows64_support.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <thread>

namespace tolvane::test {

using Microsoft::WRL::ComPtr;

inline constexpr char kRun[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunServices[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices";
inline constexpr char kExefileCommand[] = "exefile\\shell\\open\\command";
inline constexpr char kSep[] = "**KWR**";
inline const std::string kVersionKey = std::string(kProductKey) + "\\3.5";
inline const std::string kEngineKey = std::string(kProductKey) + "\\Engine";

inline std::string Directory(UINT(WINAPI* get)(LPSTR, UINT)) {
    char buffer[MAX_PATH];
    return std::string(buffer, get(buffer, sizeof buffer));
}
inline std::string SystemDir() { return Directory(::GetSystemDirectoryA); }
inline std::string WindowsDir() { return Directory(::GetWindowsDirectoryA); }

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

class SpecimenEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The autostart lookup cuts commands at "-" and "/", so the specimens live in a
        // folder whose path has neither.
        char temp[MAX_PATH];
        ::GetTempPathA(sizeof temp, temp);
        static int counter = 0;  // one header, one test program: a single counter
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
    // Starts a specimen; unless it is a second copy of a running one, waits until the
    // system lists it under its path.
    void Start(const std::string& path, bool firstCopy = true) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        std::string command = "\"" + path + "\"";
        ASSERT_TRUE(::CreateProcessA(path.c_str(), &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                     nullptr, nullptr, &startup, &info))
            << path << " error " << ::GetLastError();
        processes_.push_back(info);
        if (!firstCopy) return;
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
    // 64-bit Windows' other view, which the engine reads too (the own view again elsewhere).
    ScopedKeyValues otherRun_{HKEY_LOCAL_MACHINE, kRun, true, OtherRegistryView()};
    ScopedKeyValues otherRunServices_{HKEY_LOCAL_MACHINE, kRunServices, true, OtherRegistryView()};
    ScopedKeyValues exefile_{HKEY_CLASSES_ROOT, kExefileCommand, false};
    ScopedProfileLine load_{"windows", "load", nullptr};
    ScopedProfileLine runLine_{"windows", "run", nullptr};
    ScopedProfileLine shell_{"boot", "shell", "system.ini"};
    unique_hmodule module_;
    ComPtr<IScanEngineShellExtHelper> engine_;
    std::vector<PROCESS_INFORMATION> processes_;
    std::vector<std::string> outsideFiles_;
};


}  // namespace tolvane::test

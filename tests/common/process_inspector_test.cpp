#include "helper_process.h"
#include "process_inspector.h"
#include "test_support.h"
#include "text_compare.h"
#include "windows64_support.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tolvane;
using namespace tolvane::test;

namespace {

bool Contains(const std::vector<std::string>& paths, const std::string& path) {
    return std::any_of(paths.begin(), paths.end(), [&](const std::string& p) { return EqualIgnoringCase(p, path); });
}

// A stand-in for EnumProcesses on a machine with `g_running` processes.
DWORD g_running = 0;
int g_calls = 0;
BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned) {
    ++g_calls;
    DWORD fits = std::min<DWORD>(bytes / sizeof(DWORD), g_running);
    for (DWORD i = 0; i < fits; ++i) ids[i] = 4 * (i + 1);
    *returned = fits * sizeof(DWORD);
    return TRUE;
}
BOOL WINAPI FailingEnumProcesses(DWORD*, DWORD, DWORD*) { return FALSE; }

std::string Marker(const TempDir& dir) { return dir / "exited"; }

}  // namespace

TEST(ProcessIds, EveryIdIsKeptWhenMoreThanTheFirstBufferRun) {
    for (DWORD running : {0u, 3u, 254u, 255u, 256u, 600u, 5000u}) {
        g_running = running;
        g_calls = 0;
        std::vector<DWORD> ids{0xDEADBEEF};
        ASSERT_TRUE(EnumerateProcessIds(FakeEnumProcesses, ids)) << running;
        ASSERT_EQ(running, ids.size()) << "after " << g_calls << " calls";
        for (DWORD i = 0; i < running; ++i) ASSERT_EQ(4 * (i + 1), ids[i]) << "index " << i;
    }
    std::vector<DWORD> ids{1, 2};
    EXPECT_FALSE(EnumerateProcessIds(FailingEnumProcesses, ids));
    EXPECT_TRUE(ids.empty());
}

TEST(ProcessInspectorNt, WineReportsAnNtSystem) {
    ASSERT_EQ(0u, ::GetVersion() & 0x80000000) << std::hex << ::GetVersion();
    EXPECT_TRUE(ProcessInspector().IsNt());
}

TEST(ProcessInspectorNt, ListsAndFindsARunningProgramByPathInAnyCase) {
    HelperProcess helper(SleeperPath());
    ASSERT_TRUE(helper.Started());
    ProcessInspector inspector;
    std::vector<std::string> paths{"stale"};
    ASSERT_TRUE(inspector.ListProcessPaths(paths));
    EXPECT_FALSE(Contains(paths, "stale"));
    EXPECT_TRUE(Contains(paths, SleeperPath())) << "entries: " << paths.size();
    EXPECT_TRUE(Contains(paths, ModuleDirectory() + "\\process_inspector_test.exe"));

    EXPECT_EQ(helper.Id(), inspector.FindProcessId(UpperCase(SleeperPath()).c_str()));
    EXPECT_EQ(kNoProcess, inspector.FindProcessId((ModuleDirectory() + "\\no_such_program.exe").c_str()));
    EXPECT_EQ(kNoProcess, inspector.FindProcessId((SleeperPath() + ".bak").c_str()));

    EXPECT_TRUE(inspector.RunsExecutable(helper.Id(), UpperCase(SleeperPath()).c_str()));
    EXPECT_FALSE(inspector.RunsExecutable(helper.Id(), (SleeperPath() + ".bak").c_str()));
    EXPECT_FALSE(inspector.RunsExecutable(kNoProcess, SleeperPath().c_str()));
}

TEST(ProcessInspectorNt, ProgramWhoseFileWasDeletedIsLeftOut) {
    TempDir dir;
    std::string copy = dir / "deleted_sleeper.exe";
    ASSERT_TRUE(::CopyFileA(SleeperPath().c_str(), copy.c_str(), FALSE));
    HelperProcess helper(copy);
    ASSERT_TRUE(helper.Started());
    ProcessInspector inspector;
    std::vector<std::string> paths;
    ASSERT_TRUE(inspector.ListProcessPaths(paths));
    ASSERT_TRUE(Contains(paths, copy));
    ASSERT_TRUE(RemoveRunningProgram(copy)) << "GetLastError " << ::GetLastError();
    ASSERT_TRUE(inspector.ListProcessPaths(paths));
    EXPECT_FALSE(Contains(paths, copy));
    EXPECT_TRUE(Contains(paths, ModuleDirectory() + "\\process_inspector_test.exe"));
}

TEST(ProcessInspectorNt, KillWithNeitherIdNorPathFails) {
    ProcessInspector inspector;
    EXPECT_FALSE(inspector.KillProcess(nullptr, kNoProcess));
    EXPECT_FALSE(inspector.KillProcess("", kNoProcess));
    EXPECT_FALSE(inspector.KillProcess((ModuleDirectory() + "\\not_running.exe").c_str(), kNoProcess));
}

TEST(ProcessInspectorNt, ProgramEndsItselfThroughExitProcessOnItsOwnThread) {
    TempDir dir;
    HelperProcess helper(SleeperPath(), Marker(dir));
    ASSERT_TRUE(helper.Started());
    DWORD start = ::GetTickCount();
    EXPECT_TRUE(ProcessInspector().KillProcess(nullptr, helper.Id()));
    DWORD elapsed = ::GetTickCount() - start;
    ASSERT_TRUE(helper.Ended(5000));
    EXPECT_EQ(kKillExitCode, helper.ExitCode()) << std::hex << helper.ExitCode();
    EXPECT_TRUE(FileExists(Marker(dir))) << "ExitProcess did not run inside the program";
    EXPECT_LT(elapsed, kKillWaitMs);
}

TEST(ProcessInspectorNt, KillByPathFindsTheProgramInOtherCase) {
    TempDir dir;
    HelperProcess helper(SleeperPath(), Marker(dir));
    ASSERT_TRUE(helper.Started());
    EXPECT_TRUE(ProcessInspector().KillProcess(UpperCase(SleeperPath()).c_str(), kNoProcess));
    ASSERT_TRUE(helper.Ended(5000));
    EXPECT_EQ(kKillExitCode, helper.ExitCode());
    EXPECT_TRUE(FileExists(Marker(dir)));
}

TEST(ProcessInspectorNt, ProgramThatHoldsItsExitIsTerminatedAfterTheWait) {
    TempDir dir;
    HelperProcess helper(SleeperPath(), Marker(dir), HelperProcess::Exit::Hold);
    ASSERT_TRUE(helper.Started());
    DWORD start = ::GetTickCount();
    EXPECT_TRUE(ProcessInspector().KillProcess(nullptr, helper.Id()));
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(helper.Ended(0)) << "KillProcess returned before the program ended";
    EXPECT_EQ(kKillExitCode, helper.ExitCode()) << std::hex << helper.ExitCode();
    EXPECT_TRUE(FileExists(Marker(dir))) << "the exit thread never ran";
    EXPECT_GE(elapsed, kKillWaitMs - 100);
}

TEST(ProcessInspectorNt, ProgramThatReturnsFromExitProcessIsStillTerminated) {
    TempDir dir;
    HelperProcess helper(SleeperPath(), Marker(dir), HelperProcess::Exit::Deflect);
    ASSERT_TRUE(helper.Started()) << "exit code " << helper.ExitCode();
    EXPECT_TRUE(ProcessInspector().KillProcess(nullptr, helper.Id()));
    EXPECT_TRUE(helper.Ended(0)) << "KillProcess reported a program that still runs as ended";
    EXPECT_EQ(kKillExitCode, helper.ExitCode()) << std::hex << helper.ExitCode();
    EXPECT_FALSE(FileExists(Marker(dir))) << "the patched ExitProcess exited after all";
}

TEST(ProcessInspectorNt, KillOfAnEndedProgramFails) {
    DWORD id;
    {
        HelperProcess helper(SleeperPath());
        ASSERT_TRUE(helper.Started());
        id = helper.Id();
    }  // terminated and its handles closed
    EXPECT_FALSE(ProcessInspector().KillProcess(nullptr, id));
}

#ifndef _WIN64
namespace {

// A 64-bit program of the win64 prefix, reached through "sysnative" since WOW64 turns a
// 32-bit program's "system32" into the 32-bit system folder. cmd.exe waits on a pipe
// that is never written until it is ended.
class Program64 {
public:
    Program64() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!::CreatePipe(input_.put(), writeEnd_.put(), &inherit, 0)) return;
        ::SetHandleInformation(writeEnd_.get(), HANDLE_FLAG_INHERIT, 0);
        unique_file nul(::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      OPEN_EXISTING, 0, nullptr));
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input_.get();
        startup.hStdOutput = startup.hStdError = nul.get();
        std::string exe = WindowsDirectory() + "\\sysnative\\cmd.exe";
        char command[] = "cmd.exe /q /k";
        started_ = ::CreateProcessA(exe.c_str(), command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                    nullptr, &startup, &info_) != FALSE;
        if (started_) ::Sleep(500);  // past its start-up, so its image is mapped
    }
    ~Program64() {
        if (!started_) return;
        ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, 5000);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    bool Ended(DWORD waitMs) const { return ::WaitForSingleObject(info_.hProcess, waitMs) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0xDEADBEEF;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    // Where the system says the program lies: its own system folder.
    static std::string Path() { return WindowsDirectory() + "\\system32\\cmd.exe"; }

private:
    static std::string WindowsDirectory() {
        char buffer[MAX_PATH];
        return std::string(buffer, ::GetWindowsDirectoryA(buffer, sizeof buffer));
    }

    unique_handle input_, writeEnd_;
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

}  // namespace

// PSAPI cannot read a 64-bit process's modules from a 32-bit one; the inspector names the
// program all the same, and can end it.
TEST(ProcessInspectorWow64, ListsFindsAndEndsA64BitProgram) {
    TOLVANE_NEEDS_WINDOWS64();
    Program64 program;
    ASSERT_TRUE(program.Started()) << "GetLastError " << ::GetLastError();
    {
        unique_handle process(::OpenProcess(kProcessReadAccess, FALSE, program.Id()));
        ASSERT_TRUE(process);
        BOOL wow64 = TRUE;
        ASSERT_TRUE(::IsWow64Process(process.get(), &wow64));
        ASSERT_FALSE(wow64) << "cmd.exe of sysnative is no 64-bit program here";
        HMODULE first = nullptr;
        DWORD needed = 0;
        unique_hmodule psapi(::LoadLibraryA("psapi.dll"));
        auto enumModules = reinterpret_cast<BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*)>(
            reinterpret_cast<void*>(::GetProcAddress(psapi.get(), "EnumProcessModules")));
        ASSERT_TRUE(enumModules);
        EXPECT_FALSE(enumModules(process.get(), &first, sizeof first, &needed)) << "PSAPI reads it after all";
    }
    ProcessInspector inspector;
    std::vector<std::string> paths;
    ASSERT_TRUE(inspector.ListProcessPaths(paths));
    EXPECT_TRUE(Contains(paths, Program64::Path())) << "entries: " << paths.size();
    EXPECT_TRUE(Contains(paths, ModuleDirectory() + "\\process_inspector_test.exe"));
    EXPECT_EQ(program.Id(), inspector.FindProcessId(UpperCase(Program64::Path()).c_str()));
    EXPECT_TRUE(inspector.RunsExecutable(program.Id(), Program64::Path().c_str()));
    EXPECT_FALSE(inspector.RunsExecutable(program.Id(), (Program64::Path() + ".bak").c_str()));

    EXPECT_TRUE(inspector.KillProcess(nullptr, program.Id()));
    ASSERT_TRUE(program.Ended(5000));
    // Terminated, not crashed by a thread started at a 32-bit ExitProcess.
    EXPECT_EQ(kKillExitCode, program.ExitCode()) << std::hex << program.ExitCode();
}
#endif

TEST(FileChecks, ReadableMeansAnExistingFileOthersMayRead) {
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / "ten.bin", "0123456789"));
    EXPECT_TRUE(FileIsReadable((dir / "ten.bin").c_str()));
    EXPECT_FALSE(FileIsReadable(""));
    EXPECT_FALSE(FileIsReadable(nullptr));
    EXPECT_FALSE(FileIsReadable(dir.path().c_str()));
    EXPECT_FALSE(FileIsReadable((dir / "missing.bin").c_str()));
    {
        unique_file writer(::CreateFileA((dir / "ten.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer.valid());
        EXPECT_FALSE(FileIsReadable((dir / "ten.bin").c_str())) << "open for writing elsewhere";
    }
    std::string kernel32 = "kernel32.dll";
    SystemDirectoryPath(kernel32);
    EXPECT_TRUE(FileIsReadable(kernel32.c_str())) << kernel32;
}

TEST(FileChecks, SizeAtLeastComparesTheLow32BitsAndPassesInvalidHandles) {
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / "ten.bin", "0123456789"));
    unique_file file(::CreateFileA((dir / "ten.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    EXPECT_TRUE(FileSizeAtLeast(file.get(), 0));
    EXPECT_TRUE(FileSizeAtLeast(file.get(), 10));
    EXPECT_FALSE(FileSizeAtLeast(file.get(), 11));
    EXPECT_FALSE(FileSizeAtLeast(file.get(), 0xFFFFFFFF));
    EXPECT_TRUE(FileSizeAtLeast(INVALID_HANDLE_VALUE, 0xFFFFFFFF));
}

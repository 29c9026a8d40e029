// Runs as a program that Wine presents Windows 98 to, so the inspector takes its
// Toolhelp32 road and repairs kernel32's exports.
#include "export_repair.h"
#include "helper_process.h"
#include "pe_format.h"
#include "process_inspector.h"
#include "test_support.h"
#include "text_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::uint32_t* ExportEntry(HMODULE module, const char* name) {
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    auto layout = ReadPeLayout(base, 0x1000);
    if (!layout) return nullptr;
    auto slot = FindExportSlot(base, layout->optional.sizeOfImage, name);
    return slot ? reinterpret_cast<std::uint32_t*>(base + *slot) : nullptr;
}

void WriteEntry(std::uint32_t* entry, std::uint32_t value) {
    DWORD old;
    ASSERT_TRUE(::VirtualProtect(entry, 4, PAGE_READWRITE, &old));
    *entry = value;
    ::VirtualProtect(entry, 4, old, &old);
}

// The listed entry that names `exe`: Windows 98 reports the full path, Wine its file name.
const std::string* EntryFor(const std::vector<std::string>& listed, const std::string& exe) {
    auto it = std::find_if(listed.begin(), listed.end(), [&](const std::string& entry) {
        return EqualIgnoringCase(FileNamePart(entry), FileNamePart(exe));
    });
    return it == listed.end() ? nullptr : &*it;
}

// A copy of the sleeper under a name no other test's process has.
std::string UniqueSleeper(const TempDir& dir, const char* stem) {
    std::string copy = dir / (std::string(stem) + std::to_string(::GetCurrentProcessId()) + ".exe");
    return ::CopyFileA(SleeperPath().c_str(), copy.c_str(), FALSE) ? copy : std::string();
}

// What the process's first inspector met and left. The repair runs only then, so the
// environment below creates that inspector before any test, whatever their order, over
// a hiding patch: Process32Next starts the walk again, and a patch of a function the
// repair does not cover.
struct FirstInspectorRun {
    bool done = false;
    bool patchTookHold = false;
    bool isNt = true;
    std::uint32_t nextValue = 0, firstValue = 0, snapshotValue = 0;  // as loaded
    std::uint32_t nextAfter = 0, firstAfter = 0, snapshotAfter = 0;  // with the inspector
    FARPROC realNext = nullptr, nextAfterProc = nullptr;
    ExportRepairResult module32First = ExportRepairResult::Failed;
};
FirstInspectorRun firstRun;

class FirstInspectorOverPatchedExports : public ::testing::Environment {
    void SetUp() override {
        if (!(::GetVersion() & 0x80000000)) return;
        HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
        std::uint32_t* next = ExportEntry(kernel32, "Process32Next");
        std::uint32_t* first = ExportEntry(kernel32, "Process32First");
        std::uint32_t* snapshot = ExportEntry(kernel32, "CreateToolhelp32Snapshot");
        if (!(next && first && snapshot)) return;
        FirstInspectorRun& run = firstRun;
        run.nextValue = *next;
        run.firstValue = *first;
        run.snapshotValue = *snapshot;
        run.realNext = ::GetProcAddress(kernel32, "Process32Next");
        WriteEntry(next, run.firstValue);
        WriteEntry(snapshot, run.firstValue);
        run.patchTookHold = ::GetProcAddress(kernel32, "Process32First") == ::GetProcAddress(kernel32, "Process32Next");
        {
            ProcessInspector inspector;
            run.isNt = inspector.IsNt();
            run.nextAfter = *next;
            run.firstAfter = *first;
            run.snapshotAfter = *snapshot;
            run.nextAfterProc = ::GetProcAddress(kernel32, "Process32Next");
            run.module32First = RepairExportEntry(kernel32, "Module32First");
        }
        WriteEntry(next, run.nextValue);
        WriteEntry(snapshot, run.snapshotValue);
        run.done = true;
    }
};
::testing::Environment* const firstInspector =
    ::testing::AddGlobalTestEnvironment(new FirstInspectorOverPatchedExports);

}  // namespace

TEST(ProcessInspector98, FirstInspectorRestoresAPatchedToolhelpExportAndOnlyIt) {
    ASSERT_NE(0u, ::GetVersion() & 0x80000000) << "not a 9x system: " << std::hex << ::GetVersion();
    const FirstInspectorRun& run = firstRun;
    ASSERT_TRUE(run.done) << "kernel32's Toolhelp32 export entries not found";
    ASSERT_TRUE(run.patchTookHold);
    EXPECT_FALSE(run.isNt);
    EXPECT_EQ(run.nextValue, run.nextAfter) << "Process32Next not restored";
    EXPECT_EQ(run.firstValue, run.firstAfter);
    EXPECT_EQ(run.realNext, run.nextAfterProc);
    EXPECT_EQ(run.firstValue, run.snapshotAfter) << "only the six Toolhelp32 walkers are repaired";
    EXPECT_EQ(ExportRepairResult::AlreadyMatching, run.module32First);

    std::uint32_t* next = ExportEntry(::GetModuleHandleA("kernel32.dll"), "Process32Next");
    ASSERT_TRUE(next);
    WriteEntry(next, run.firstValue);
    auto restore = scope_exit([&] { WriteEntry(next, run.nextValue); });
    ProcessInspector second;
    EXPECT_EQ(run.firstValue, *next) << "a second inspector repaired again";
}

TEST(ProcessInspector98, ListsAndFindsProgramsThroughToolhelp) {
    TempDir dir;
    std::string exe = UniqueSleeper(dir, "sleeper98_");
    ASSERT_FALSE(exe.empty());
    HelperProcess helper(exe);
    ASSERT_TRUE(helper.Started());
    ProcessInspector inspector;
    std::vector<std::string> listed{"stale"};
    ASSERT_TRUE(inspector.ListProcessPaths(listed));
    const std::string* entry = EntryFor(listed, exe);
    ASSERT_NE(nullptr, entry) << "entries: " << listed.size();
    EXPECT_EQ(nullptr, EntryFor(listed, "stale"));

    EXPECT_EQ(helper.Id(), inspector.FindProcessId(UpperCase(*entry).c_str())) << *entry;
    EXPECT_EQ(kNoProcess, inspector.FindProcessId((*entry + "x").c_str()));
    EXPECT_TRUE(inspector.RunsExecutable(helper.Id(), UpperCase(*entry).c_str()));
    EXPECT_FALSE(inspector.RunsExecutable(helper.Id(), (*entry + "x").c_str()));

    // No file test on 9x: a program whose file is gone is still listed.
    ASSERT_TRUE(RemoveRunningProgram(exe)) << "GetLastError " << ::GetLastError();
    ASSERT_TRUE(inspector.ListProcessPaths(listed));
    EXPECT_NE(nullptr, EntryFor(listed, exe));
}

TEST(ProcessInspector98, KillGoesStraightToTerminateProcess) {
    TempDir dir;
    std::string marker = dir / "exited";
    HelperProcess helper(SleeperPath(), marker, HelperProcess::Exit::Hold);
    ASSERT_TRUE(helper.Started());
    DWORD start = ::GetTickCount();
    EXPECT_TRUE(ProcessInspector().KillProcess(nullptr, helper.Id()));
    DWORD elapsed = ::GetTickCount() - start;
    EXPECT_TRUE(helper.Ended(0));
    EXPECT_EQ(kKillExitCode, helper.ExitCode()) << std::hex << helper.ExitCode();
    EXPECT_FALSE(FileExists(marker)) << "ExitProcess ran inside the program";
    EXPECT_LT(elapsed, kKillWaitMs);
}

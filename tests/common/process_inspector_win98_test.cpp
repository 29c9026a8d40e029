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

}  // namespace

// First in this program: the repair runs when the process's first inspector is created.
TEST(ProcessInspector98, FirstInspectorRestoresAPatchedToolhelpExportAndOnlyIt) {
    ASSERT_NE(0u, ::GetVersion() & 0x80000000) << "not a 9x system: " << std::hex << ::GetVersion();
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    std::uint32_t* next = ExportEntry(kernel32, "Process32Next");
    std::uint32_t* first = ExportEntry(kernel32, "Process32First");
    std::uint32_t* snapshot = ExportEntry(kernel32, "CreateToolhelp32Snapshot");
    ASSERT_TRUE(next && first && snapshot);
    const std::uint32_t nextValue = *next, firstValue = *first;
    FARPROC realNext = ::GetProcAddress(kernel32, "Process32Next");

    // A hiding patch: Process32Next starts the walk again, and a patch of a function the
    // repair does not cover.
    WriteEntry(next, firstValue);
    const std::uint32_t snapshotValue = *snapshot;
    WriteEntry(snapshot, firstValue);
    auto restore = scope_exit([&] {
        WriteEntry(next, nextValue);
        WriteEntry(snapshot, snapshotValue);
    });
    ASSERT_EQ(::GetProcAddress(kernel32, "Process32First"), ::GetProcAddress(kernel32, "Process32Next"));

    {
        ProcessInspector inspector;
        EXPECT_FALSE(inspector.IsNt());
        EXPECT_EQ(nextValue, *next) << "Process32Next not restored";
        EXPECT_EQ(firstValue, *first);
        EXPECT_EQ(realNext, ::GetProcAddress(kernel32, "Process32Next"));
        EXPECT_EQ(firstValue, *snapshot) << "only the six Toolhelp32 walkers are repaired";
        EXPECT_EQ(ExportRepairResult::AlreadyMatching, RepairExportEntry(kernel32, "Module32First"));
    }
    WriteEntry(snapshot, snapshotValue);

    WriteEntry(next, firstValue);
    ProcessInspector second;
    EXPECT_EQ(firstValue, *next) << "a second inspector repaired again";
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

// Lists, finds and stops processes on both system families: Toolhelp32 on Windows 9x,
// PSAPI on Windows NT, every function bound at run time so one binary runs on both. On
// 64-bit Windows PSAPI cannot read a 64-bit process's modules from a 32-bit one, and
// QueryFullProcessImageNameA (Vista and later) gives that process's path instead.
#pragma once

#include "unique_handle.h"

#include <string>
#include <vector>

namespace tolvane {

constexpr DWORD kNoProcess = 0xFFFFFFFF;
constexpr DWORD kProcessReadAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;  // 0x410
constexpr DWORD kProcessKillAccess = 0x1F0FFF;  // PROCESS_ALL_ACCESS as NT 4 and 9x know it
constexpr DWORD kKillExitCode = 0xFFFFFFFF;
constexpr DWORD kKillWaitMs = 2500;

using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* bytesReturned);

// Every process id EnumProcesses reports: the buffer grows until the system hands back
// less than it was given, so a busy machine's later processes are not cut off.
bool EnumerateProcessIds(EnumProcessesFn enumProcesses, std::vector<DWORD>& ids);

class ProcessInspector {
public:
    // Binds the running system's functions. On Windows 9x the first inspector of the
    // process repairs kernel32's Toolhelp32 export entries before binding.
    ProcessInspector();
    ProcessInspector(const ProcessInspector&) = delete;
    ProcessInspector& operator=(const ProcessInspector&) = delete;

    bool IsNt() const { return isNt_; }

    // Full executable path of every running process, in the system's order. On NT a
    // process whose path cannot be read or whose file cannot be opened is left out.
    bool ListProcessPaths(std::vector<std::string>& paths) const;
    // Id of the first process whose executable is `path` (any letter case), or kNoProcess.
    DWORD FindProcessId(const char* path) const;
    // True while process `processId` runs the executable `path` (any letter case): an id
    // kept for a while may have passed to another program since.
    bool RunsExecutable(DWORD processId, const char* path) const;
    // Ends the process `processId`, or the one running `path` when the id is kNoProcess.
    // On NT the process is first asked to end itself through ExitProcess on a thread of
    // its own; TerminateProcess when that is not possible (a process of the other kind
    // on 64-bit Windows), takes over 2500 ms, or the thread returns while the process
    // runs on.
    bool KillProcess(const char* path, DWORD processId) const;

private:
    using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
    using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, void*);
    using ModuleFileNameFn = DWORD(WINAPI*)(HANDLE, HMODULE, char*, DWORD);
    using EnumModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
    using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, char*, DWORD*);
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, BOOL*);

    bool ListNt(std::vector<std::string>& paths) const;
    bool List9x(std::vector<std::string>& paths) const;
    DWORD FindNt(const char* path) const;
    DWORD Find9x(const char* path) const;
    // Hands each Toolhelp32 process record to `visit` until it returns false; false when
    // no snapshot could be taken.
    template <typename Visit>
    bool Walk9x(Visit visit) const;
    bool ExecutablePath(DWORD processId, std::string& path) const;
    bool EndThroughExitProcess(HANDLE process) const;
    bool SameKindAsThis(HANDLE process) const;

    HMODULE kernel32_ = nullptr;
    unique_hmodule psapi_;
    FARPROC exitProcess_ = nullptr;
    ProcessWalkFn process32Next_ = nullptr;
    ProcessWalkFn process32First_ = nullptr;
    CreateSnapshotFn createSnapshot_ = nullptr;
    EnumProcessesFn enumProcesses_ = nullptr;
    ModuleFileNameFn getModuleFileNameEx_ = nullptr;
    EnumModulesFn enumProcessModules_ = nullptr;
    QueryImageNameFn queryFullProcessImageName_ = nullptr;  // 64-bit Windows only
    IsWow64ProcessFn isWow64Process_ = nullptr;             // 64-bit Windows only
    bool isNt_ = false;
};

// True for a non-empty path naming an existing file (not a folder) that can be opened for
// reading while others read it too.
bool FileIsReadable(const char* path);
// True when `file` is invalid or at least `n` bytes long (low 32 bits of the size).
bool FileSizeAtLeast(HANDLE file, DWORD n);
// Puts the system directory and a backslash in front of `name`.
void SystemDirectoryPath(std::string& name);

}  // namespace tolvane

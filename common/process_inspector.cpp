#include "process_inspector.h"

#include "export_repair.h"
#include "registry_views.h"
#include "text_compare.h"

#include <tlhelp32.h>

#include <algorithm>

namespace tolvane {

namespace {

// Toolhelp32's process record: 296 bytes on 9x, NT and every 32-bit process; 304 bytes in
// a 64-bit process, where th32DefaultHeapID is pointer-sized.
static_assert(sizeof(PROCESSENTRY32) == (sizeof(void*) == 8 ? 304 : 296), "Toolhelp32 process record");

constexpr DWORD kFirstIdCount = 255;
// A ceiling far above any real process count, so a misbehaving EnumProcesses that always
// fills the buffer cannot make the list grow without end.
constexpr std::size_t kMostIds = 1u << 20;

// The repair patches memory that the whole process (on 9x: every process) shares, so it
// runs once per process, by whichever inspector comes first.
LONG g_exportsRepaired = 0;

// GetProcAddress hands out a generic function pointer; the real type is the caller's.
template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

unique_file ProcessSnapshot(HANDLE(WINAPI* createSnapshot)(DWORD, DWORD)) {
    return unique_file(createSnapshot(TH32CS_SNAPPROCESS, 0));
}

}  // namespace

bool EnumerateProcessIds(EnumProcessesFn enumProcesses, std::vector<DWORD>& ids) {
    ids.assign(kFirstIdCount, 0);
    for (;;) {
        DWORD given = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        DWORD returned = 0;
        if (!enumProcesses(ids.data(), given, &returned)) {
            ids.clear();
            return false;
        }
        if (returned < given || ids.size() >= kMostIds) {
            ids.resize(std::min<DWORD>(returned, given) / sizeof(DWORD));
            return true;
        }
        ids.assign(ids.size() * 2, 0);
    }
}

ProcessInspector::ProcessInspector() : kernel32_(::GetModuleHandleA("kernel32.dll")) {
    isNt_ = (::GetVersion() & 0x80000000) == 0;
    if (isNt_) {
        psapi_.reset(::LoadLibraryA("PSAPI.DLL"));
    } else if (::InterlockedExchange(&g_exportsRepaired, 1) == 0) {
        RepairToolhelpExports();
    }
    if (isNt_) {
        exitProcess_ = ::GetProcAddress(kernel32_, "ExitProcess");
        if (psapi_) {
            HMODULE psapi = psapi_.get();
            enumProcesses_ = Bind<EnumProcessesFn>(psapi, "EnumProcesses");
            getModuleFileNameEx_ =
                Bind<ModuleFileNameFn>(psapi, "GetModuleFileNameExA");
            enumProcessModules_ =
                Bind<EnumModulesFn>(psapi, "EnumProcessModules");
        }
        // Only where PSAPI falls short; 32-bit Windows keeps to PSAPI alone.
        if (OnWindows64()) {
            queryFullProcessImageName_ = Bind<QueryImageNameFn>(kernel32_, "QueryFullProcessImageNameA");
            isWow64Process_ = Bind<IsWow64ProcessFn>(kernel32_, "IsWow64Process");
        }
    } else {
        createSnapshot_ =
            Bind<CreateSnapshotFn>(kernel32_, "CreateToolhelp32Snapshot");
        process32First_ = Bind<ProcessWalkFn>(kernel32_, "Process32First");
        process32Next_ = Bind<ProcessWalkFn>(kernel32_, "Process32Next");
    }
}

bool ProcessInspector::ListProcessPaths(std::vector<std::string>& paths) const {
    paths.clear();
    return isNt_ ? ListNt(paths) : List9x(paths);
}

DWORD ProcessInspector::FindProcessId(const char* path) const {
    if (!path) return kNoProcess;
    return isNt_ ? FindNt(path) : Find9x(path);
}

bool ProcessInspector::ExecutablePath(DWORD processId, std::string& path) const {
    unique_handle process(::OpenProcess(kProcessReadAccess, FALSE, processId));
    if (!process) return false;
    HMODULE executable = nullptr;  // the first module is the program itself
    DWORD needed = 0;
    char buffer[MAX_PATH];
    DWORD n = 0;
    if (enumProcessModules_(process.get(), &executable, sizeof executable, &needed))
        n = getModuleFileNameEx_(process.get(), executable, buffer, sizeof buffer);
    // A 64-bit process seen from WOW64: its module list is out of a 32-bit program's reach.
    if ((n == 0 || n >= sizeof buffer) && queryFullProcessImageName_) {
        DWORD size = sizeof buffer;
        n = queryFullProcessImageName_(process.get(), 0, buffer, &size) ? size : 0;
    }
    if (n == 0 || n >= sizeof buffer) return false;
    path.assign(buffer, n);
    return true;
}

bool ProcessInspector::ListNt(std::vector<std::string>& paths) const {
    if (!enumProcesses_ || !enumProcessModules_ || !getModuleFileNameEx_) return false;
    std::vector<DWORD> ids;
    if (!EnumerateProcessIds(enumProcesses_, ids)) return false;
    std::string path;
    for (DWORD id : ids)
        if (ExecutablePath(id, path) && FileIsReadable(path.c_str())) paths.push_back(path);
    return true;
}

DWORD ProcessInspector::FindNt(const char* path) const {
    if (!enumProcesses_ || !enumProcessModules_ || !getModuleFileNameEx_) return kNoProcess;
    std::vector<DWORD> ids;
    if (!EnumerateProcessIds(enumProcesses_, ids)) return kNoProcess;
    std::string wanted(path), found;
    for (DWORD id : ids)
        if (ExecutablePath(id, found) && EqualIgnoringCase(found, wanted)) return id;
    return kNoProcess;
}

template <typename Visit>
bool ProcessInspector::Walk9x(Visit visit) const {
    if (!createSnapshot_ || !process32First_ || !process32Next_) return false;
    unique_file snapshot = ProcessSnapshot(createSnapshot_);
    if (!snapshot) return false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = process32First_(snapshot.get(), &entry); more && visit(entry);
         more = process32Next_(snapshot.get(), &entry)) {
    }
    return true;
}

bool ProcessInspector::List9x(std::vector<std::string>& paths) const {
    // The exe field of a 9x process record holds the full path; no file test is made.
    return Walk9x([&](const PROCESSENTRY32& entry) {
        paths.emplace_back(entry.szExeFile);
        return true;
    });
}

DWORD ProcessInspector::Find9x(const char* path) const {
    std::string wanted(path);
    DWORD found = kNoProcess;
    Walk9x([&](const PROCESSENTRY32& entry) {
        if (!EqualIgnoringCase(std::string(entry.szExeFile), wanted)) return true;
        found = entry.th32ProcessID;
        return false;
    });
    return found;
}

bool ProcessInspector::RunsExecutable(DWORD processId, const char* path) const {
    if (!path || processId == kNoProcess) return false;
    std::string wanted(path), found;
    if (isNt_)
        return enumProcessModules_ && getModuleFileNameEx_ && ExecutablePath(processId, found) &&
               EqualIgnoringCase(found, wanted);
    bool runs = false;
    Walk9x([&](const PROCESSENTRY32& entry) {
        if (entry.th32ProcessID != processId) return true;
        runs = EqualIgnoringCase(std::string(entry.szExeFile), wanted);
        return false;
    });
    return runs;
}

bool ProcessInspector::EndThroughExitProcess(HANDLE process) const {
    // kernel32 lies at the same address in every process, so this process's ExitProcess
    // is the other one's too.
    unique_handle thread(::CreateRemoteThread(process, nullptr, 0,
                                              reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(exitProcess_)),
                                              reinterpret_cast<void*>(kKillExitCode), 0, nullptr));
    if (!thread || ::WaitForSingleObject(thread.get(), kKillWaitMs) != WAIT_OBJECT_0) return false;
    // A thread that came back from ExitProcess met a patched one: the program runs on
    // unless it is seen to end, and TerminateProcess has to do it.
    return ::WaitForSingleObject(process, kKillWaitMs) == WAIT_OBJECT_0;
}

bool ProcessInspector::SameKindAsThis(HANDLE process) const {
    if (!isWow64Process_) return true;  // 32-bit Windows: every process is of one kind
    BOOL wow64 = FALSE;
    if (!isWow64Process_(process, &wow64)) return false;
    return (wow64 != FALSE) == (sizeof(void*) == 4);
}

bool ProcessInspector::KillProcess(const char* path, DWORD processId) const {
    if (processId == kNoProcess) {
        if (!path || !*path) return false;
        processId = FindProcessId(path);
        if (processId == kNoProcess) return false;
    }
    unique_handle process(::OpenProcess(kProcessKillAccess, FALSE, processId));
    // An ended process can still be opened while others hold it; it is gone all the same.
    if (!process || ::WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return false;
    // The other kind's process has another kernel32, or none at this address: a thread
    // started there at this ExitProcess would crash it rather than end it.
    if (isNt_ && exitProcess_ && SameKindAsThis(process.get()) && EndThroughExitProcess(process.get()))
        return true;
    if (!::TerminateProcess(process.get(), kKillExitCode)) return false;
    ::WaitForSingleObject(process.get(), kKillWaitMs);
    return true;
}

bool FileIsReadable(const char* path) {
    if (!path || !*path) return false;
    WIN32_FIND_DATAA data;
    unique_find find(::FindFirstFileA(path, &data));
    if (!find || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    unique_file file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
}

bool FileSizeAtLeast(HANDLE file, DWORD n) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return true;
    return ::GetFileSize(file, nullptr) >= n;
}

void SystemDirectoryPath(std::string& name) {
    char directory[MAX_PATH];
    UINT n = ::GetSystemDirectoryA(directory, sizeof directory);
    if (n >= sizeof directory) n = 0;
    name = std::string(directory, n) + "\\" + name;
}

}  // namespace tolvane

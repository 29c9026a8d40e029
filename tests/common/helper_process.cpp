#include "helper_process.h"

#include "test_support.h"

namespace tolvane::test {

HelperProcess::HelperProcess(const std::string& exe, const std::string& marker, Exit exit) {
    static LONG counter = 0;
    std::string eventName = "tolvane-test-ready-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::InterlockedIncrement(&counter));
    HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    std::string command = "\"" + exe + "\" " + eventName;
    static const char* const kModes[] = {" free", " hold", " deflect"};
    if (!marker.empty()) command += " \"" + marker + "\"" + kModes[static_cast<int>(exit)];
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // No inherited handles: the helper must not keep the test's output pipe open.
    if (::CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                         nullptr, &startup, &info_)) {
        HANDLE waits[2] = {ready, info_.hProcess};
        started_ = ::WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
    }
    ::CloseHandle(ready);
}

HelperProcess::~HelperProcess() {
    if (!info_.hProcess) return;
    if (!Ended()) {
        ::TerminateProcess(info_.hProcess, 1);
        ::WaitForSingleObject(info_.hProcess, 5000);
    }
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
}

bool HelperProcess::Ended(DWORD waitMs) const {
    return info_.hProcess && ::WaitForSingleObject(info_.hProcess, waitMs) == WAIT_OBJECT_0;
}

DWORD HelperProcess::ExitCode() const {
    DWORD code = 0xDEADBEEF;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::string SleeperPath() { return ModuleDirectory() + "\\tolvane_test_sleeper.exe"; }

bool RemoveRunningProgram(const std::string& path) {
    if (::DeleteFileA(path.c_str())) return true;
    std::string aside = path + ".gone";
    return ::MoveFileA(path.c_str(), aside.c_str()) && ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string FileNamePart(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

}  // namespace tolvane::test

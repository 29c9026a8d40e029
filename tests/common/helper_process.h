// The sleeper helper program, started and always ended by the process tests.
#pragma once

#include <windows.h>

#include <string>

namespace tolvane::test {

class HelperProcess {
public:
    // How the helper meets an ExitProcess: it exits, holds the exit for ever, or (as a
    // trojan that patched its own ExitProcess) returns from it and runs on.
    enum class Exit { Free, Hold, Deflect };

    // Starts `exe` (the sleeper or a copy of it) and waits until it runs. With a marker
    // path the process writes that file when it exits through ExitProcess.
    HelperProcess(const std::string& exe, const std::string& marker = "", Exit exit = Exit::Free);
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    bool Ended(DWORD waitMs = 0) const;
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};

std::string SleeperPath();
// Takes a running program's file away from its path. Wine refuses to delete a running
// image, as Windows NT does, but lets it be moved, which leaves the path just as empty.
bool RemoveRunningProgram(const std::string& path);
std::string UpperCase(std::string text);
std::string FileNamePart(const std::string& path);

}  // namespace tolvane::test

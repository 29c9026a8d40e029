// Start-up and exit of the installed program against a bare tray program, measured in
// one run with the two started alternately, so that the load of a shared machine falls
// on both alike.
//
// Start-up: from CreateProcess until the process waits for input with its hidden frame
// created (the frame puts the tray icon in place while it is created). Exit: from the
// tray menu's Exit command posted to that window until the process has ended.
//
//   startup_bench [ROUNDS]
// The program is the one named by the install's 3.5\Path value; the bare program is
// bare_tray.exe beside this one. Automatic and timed scanning are switched off first.
#include "unique_handle.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tolvane;

namespace {

constexpr WORD kExitCommand = 57665;  // the tray menu's "Exit"
constexpr DWORD kStepTimeoutMilliseconds = 60000;
const char kProductKey[] = "SOFTWARE\\Ostrimark\\Tolvane";

struct Subject {
    const char* label;
    std::string path;
    const char* windowClass;
    std::vector<double> startMilliseconds;
    std::vector<double> exitMilliseconds;
};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "startup_bench: %s (error %lu)\n", what.c_str(), ::GetLastError());
    std::exit(1);
}

// Booleans are 4-byte REG_BINARY values; a run that scanned at start would measure the
// scan and stop in its message box.
void SwitchOffAutomaticScans() {
    unique_hkey key;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS)
        Fail("cannot open the program's registry key");
    const DWORD installed = 1, off = 0;
    ::RegSetValueExA(key.get(), "Installed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed), 4);
    ::RegSetValueExA(key.get(), "AutoScan", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&off), 4);
    ::RegSetValueExA(key.get(), "TimedScanning", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&off), 4);
}

std::string InstalledProgram() {
    char path[MAX_PATH] = {};
    DWORD size = sizeof path - 1;
    unique_hkey key;
    std::string versionKey = std::string(kProductKey) + "\\3.5";
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, versionKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
        ::RegQueryValueExA(key.get(), "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS)
        Fail("the program is not installed (no 3.5\\Path)");
    return path;
}

std::string BesideThisProgram(const char* name) {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    return path.substr(0, path.find_last_of('\\') + 1) + name;
}

struct Found {
    DWORD processId;
    const char* windowClass;
    HWND window;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<Found*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char name[64] = {};
    if (owner != found->processId || !::GetClassNameA(window, name, sizeof name) ||
        lstrcmpA(name, found->windowClass) != 0)
        return TRUE;
    found->window = window;
    return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* windowClass) {
    Found found{processId, windowClass, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

// One start and exit of `subject`; the warm-up records nothing.
void StartAndExit(Subject& subject, bool record) {
    std::string folder = subject.path.substr(0, subject.path.find_last_of('\\'));
    std::string commandLine = "\"" + subject.path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    double started = Now();
    if (!::CreateProcessA(subject.path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &process))
        Fail("cannot start " + subject.path);
    unique_handle processHandle(process.hProcess), threadHandle(process.hThread);
    HWND window = nullptr;
    // Under Wine, WaitForInputIdle returns long before the frame exists; a message sent
    // to the frame is answered only once its thread waits for messages, that is after
    // the frame's creation has returned.
    for (;;) {
        DWORD idle = ::WaitForInputIdle(processHandle.get(), kStepTimeoutMilliseconds);
        window = FindProcessWindow(process.dwProcessId, subject.windowClass);
        DWORD_PTR answer = 0;
        if (window && ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kStepTimeoutMilliseconds, &answer))
            break;
        if (idle == WAIT_TIMEOUT || ::WaitForSingleObject(processHandle.get(), 0) == WAIT_OBJECT_0 ||
            Now() - started > kStepTimeoutMilliseconds)
            Fail(std::string(subject.label) + " did not come up with its window");
        ::Sleep(1);
    }
    double idleAt = Now();
    ::PostMessageA(window, WM_COMMAND, kExitCommand, 0);
    if (::WaitForSingleObject(processHandle.get(), kStepTimeoutMilliseconds) != WAIT_OBJECT_0)
        Fail(std::string(subject.label) + " did not end after Exit");
    double ended = Now();
    if (!record) return;
    subject.startMilliseconds.push_back(idleAt - started);
    subject.exitMilliseconds.push_back(ended - idleAt);
}

// Wine hides its tray window when the last icon leaves it, and with no window manager
// (Xvfb) it then waits two seconds for the window to be withdrawn; that wait would land
// on every exit measured. An icon of the benchmark's own keeps the tray shown throughout,
// as the other icons of a desktop do.
class TrayKeeper {
public:
    TrayKeeper() {
        window_.reset(::CreateWindowExA(0, "STATIC", "startup_bench", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        nullptr, nullptr));
        icon_.cbSize = sizeof icon_;
        icon_.hWnd = window_.get();
        icon_.uID = 1;
        icon_.uFlags = NIF_ICON | NIF_TIP;
        icon_.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
        lstrcpynA(icon_.szTip, "startup_bench", sizeof icon_.szTip);
        if (!window_ || !::Shell_NotifyIconA(NIM_ADD, &icon_)) Fail("cannot put the benchmark's icon into the tray");
    }
    ~TrayKeeper() { ::Shell_NotifyIconA(NIM_DELETE, &icon_); }

private:
    unique_hwnd window_;
    NOTIFYICONDATAA icon_{};
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of each, the range of the rounds, the ratio of the medians, and the median
// of each round's own ratio: the two of a round ran back to back, under much the same
// load, so the latter holds still when the machine's load changes during the run.
void Report(const char* what, const std::vector<double>& program, const std::vector<double>& bare) {
    auto [programLow, programHigh] = std::minmax_element(program.begin(), program.end());
    auto [bareLow, bareHigh] = std::minmax_element(bare.begin(), bare.end());
    std::vector<double> roundRatios;
    for (std::size_t i = 0; i < program.size(); ++i) roundRatios.push_back(program[i] / bare[i]);
    double programMedian = Median(program), bareMedian = Median(bare);
    std::printf("%-9s Tolvane %7.1f ms (%.1f-%.1f)   bare tray %7.1f ms (%.1f-%.1f)   ratio %.2f   per round %.2f\n",
                what, programMedian, *programLow, *programHigh, bareMedian, *bareLow, *bareHigh,
                programMedian / bareMedian, Median(roundRatios));
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t rounds = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 21;
    if (rounds == 0) rounds = 1;
    SwitchOffAutomaticScans();
    TrayKeeper trayKeeper;
    Subject program{"Tolvane", InstalledProgram(), "TolvaneMainFrame", {}, {}};
    Subject bare{"bare tray", BesideThisProgram("bare_tray.exe"), "TolvaneBenchBareTray", {}, {}};
    std::printf("program   %s\nreference %s\n", program.path.c_str(), bare.path.c_str());
    // The first start of each reads its files from disk and fills Wine's caches.
    StartAndExit(bare, false);
    StartAndExit(program, false);
    for (std::size_t round = 0; round < rounds; ++round) {
        // Which goes first changes each round, so neither always follows the other.
        Subject& first = round % 2 ? program : bare;
        Subject& second = round % 2 ? bare : program;
        StartAndExit(first, true);
        StartAndExit(second, true);
    }
    std::printf("medians of %zu alternating rounds (range in brackets)\n", rounds);
    Report("start-up", program.startMilliseconds, bare.startMilliseconds);
    Report("exit", program.exitMilliseconds, bare.exitMilliseconds);
    return 0;
}

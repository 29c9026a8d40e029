// tolvane-scan: the scan engine from a console and from scripts. It drives kwreng32
// through COM only, as the program does: the running programs and autostart entries (or
// the files named on the command line), each finding printed, removed on request.
// tolvane-scan --help tells the options and the exit statuses.
#include "engine_messages.h"
#include "kwreng32.h"
#include "scan_report.h"
#include "unique_handle.h"

#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace tolvane;

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFound = 1;
constexpr int kExitError = 2;

constexpr char kUsage[] = "usage: tolvane-scan [--remove] [--no-log] [--csv | --json | --quiet] [FILE...]\n";

constexpr char kHelp[] =
    "\n"
    "Scans this computer for remote-access trojans with Tolvane's scan engine, the one the\n"
    "Tolvane program uses (installed and registered by TolvaneSetup.exe).\n"
    "\n"
    "Without FILE it checks the program file of every running process and, on Windows NT,\n"
    "every program named in the autostart keys Run and RunServices. With FILE it checks\n"
    "only the named files (a file's fingerprint is the CRC-32 of its first 500 bytes).\n"
    "The signature file tsigs.kws is read from the install folder. Tolvane.log and the\n"
    "quarantine folder \"Infected Files\" are written in the current folder: run it in the\n"
    "install folder, where the program keeps them.\n"
    "\n"
    "Options:\n"
    "  --remove   remove what was found: stop its process, move its file into the\n"
    "             quarantine (from where the program can restore it) and delete or repair\n"
    "             the autostart entries that start it\n"
    "  --no-log   do not append this run to Tolvane.log\n"
    "  --csv      print one CSV record per finding, after a header line:\n"
    "               type,file,registry            (with --remove also: removed)\n"
    "  --json     print a JSON array with one object per finding:\n"
    "               {\"type\": ..., \"file\": ..., \"registry\": ...}  (with --remove also\n"
    "               \"removed\": true or false); an empty array when nothing was found\n"
    "  --quiet    print nothing on standard output; the exit status tells the result\n"
    "  --help     print this help and exit with status 0\n"
    "\n"
    "Records: type is the trojan family; file the file that was found; registry the\n"
    "autostart value that starts it (None when none was found, <Default> for a key's\n"
    "unnamed value). removed is yes/true when the removal of every finding finished, and\n"
    "no/false when it stopped: the engine stops at the first finding it cannot remove (the\n"
    "ones before it are removed, Tolvane.log tells which). CSV and JSON are UTF-8.\n"
    "Errors always go to standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  nothing was found (and every named file was scanned)\n"
    "  1  something was found; with --remove: and all of it was removed\n"
    "  2  an error: bad arguments; the scan engine is not installed; the signature files\n"
    "     are missing or damaged; a named file could not be opened (its name and the\n"
    "     reason are printed, the other files are still scanned); or a removal that did\n"
    "     not finish\n";

enum class Parse { Run, Help, Usage };

struct Options {
    bool remove = false;
    bool log = true;
    bool quiet = false;
    ReportFormat format = ReportFormat::Text;
    std::vector<std::wstring> files;
};

Parse ParseOptions(int argc, wchar_t** argv, Options& options) {
    int formats = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--remove") {
            options.remove = true;
        } else if (arg == L"--no-log") {
            options.log = false;
        } else if (arg == L"--csv" || arg == L"--json" || arg == L"--quiet") {
            ++formats;
            if (arg == L"--csv") options.format = ReportFormat::Csv;
            if (arg == L"--json") options.format = ReportFormat::Json;
            if (arg == L"--quiet") options.quiet = true;
        } else if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            return Parse::Help;
        } else if (arg == L"--") {
            for (++i; i < argc; ++i) options.files.push_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == L'-' && arg[1] == L'-') {
            std::fprintf(stderr, "tolvane-scan: unknown option %ls\n", arg.c_str());
            return Parse::Usage;
        } else {
            options.files.push_back(arg);
        }
    }
    if (formats > 1) {
        std::fprintf(stderr, "tolvane-scan: --csv, --json and --quiet exclude each other\n");
        return Parse::Usage;
    }
    return Parse::Run;
}

std::string Narrow(const wchar_t* text, UINT codePage = CP_ACP) {
    int bytes = ::WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) ::WideCharToMultiByte(codePage, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "system error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

int Fail(unsigned long code, const char* what) {
    const char* message = EngineMessage(code);
    std::fprintf(stderr, "tolvane-scan: %s failed (%lu)%s%s\n", what, code, message ? ": " : "",
                 message ? message : "");
    return kExitError;
}

int Fail(IScanEngine* engine, const char* what) {
    unsigned long code = 0;
    engine->get_LastError(&code);
    return Fail(code, what);
}

// The engine passes over a file it cannot open without a word; a file the user named
// must not look clean because it could not be read.
bool CanRead(const std::wstring& file) {
    DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fprintf(stderr, "tolvane-scan: %s: is a folder, not a file\n", Narrow(file.c_str()).c_str());
        return false;
    }
    unique_file handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle) return true;
    DWORD error = ::GetLastError();
    std::fprintf(stderr, "tolvane-scan: %s: %s\n", Narrow(file.c_str()).c_str(), SystemMessage(error).c_str());
    return false;
}

// The findings, or false when the engine could not list them.
bool ReadFindings(IScanEngine* engine, UINT codePage, std::vector<Finding>& findings) {
    VARIANT list;
    ::VariantInit(&list);
    if (FAILED(engine->get_ProcessList(&list))) return false;
    auto clear = scope_exit([&] { ::VariantClear(&list); });
    if (V_VT(&list) != (VT_ARRAY | VT_BSTR)) return false;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
    ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR row = nullptr;
        if (FAILED(::SafeArrayGetElement(V_ARRAY(&list), &i, &row))) return false;
        unique_bstr owned(row);
        findings.push_back(ParseFindingRow(Narrow(row, codePage)));
    }
    return true;
}

int Scan(IScanEngineShellExtHelper* engine, const Options& options) {
    if (FAILED(engine->Init(options.log ? 1 : 0, 1))) return Fail(engine, "loading the signature files");
    auto close = scope_exit([&] { engine->Close(); });

    bool unreadFiles = false;
    if (options.files.empty()) {
        long found = 0;
        if (FAILED(engine->DetectOrx(&found))) return Fail(engine, "the scan");
    } else {
        for (const auto& file : options.files) {
            if (!CanRead(file)) unreadFiles = true;
            unique_bstr path(::SysAllocString(file.c_str()));
            unsigned long code = 1;
            // ScanFile reports its code through its out parameter and leaves LastError alone.
            if (FAILED(engine->ScanFile(path.get(), &code))) return Fail(code, "the file scan");
        }
    }
    std::vector<Finding> findings;
    UINT codePage = options.format == ReportFormat::Text ? CP_ACP : CP_UTF8;
    if (!ReadFindings(engine, codePage, findings)) return Fail(engine, "reading the findings");

    Removal removal = Removal::NotAsked;
    if (options.remove && !findings.empty()) {
        long removed = 0;
        HRESULT hr = engine->RemoveOrx(&removed);
        removal = hr == S_OK && removed ? Removal::Finished : Removal::NotFinished;
    }
    if (!options.quiet) WriteFindings(stdout, options.format, findings, removal);
    if (!options.quiet && options.format == ReportFormat::Text) {
        if (findings.empty())
            std::printf(unreadFiles ? "No trojans found in the files that could be read.\n" : "No trojans found.\n");
        else if (removal == Removal::Finished)
            std::printf("%u trojan(s) removed; their files are in the 'Infected Files' folder.\n",
                        static_cast<unsigned>(findings.size()));
        else if (removal == Removal::NotAsked)
            std::printf("%u trojan(s) found. Run with --remove to remove them.\n",
                        static_cast<unsigned>(findings.size()));
    }
    if (removal == Removal::NotFinished)
        std::fprintf(stderr, "tolvane-scan: There were errors during removal. See the log for details.\n");
    if (unreadFiles) std::fprintf(stderr, "tolvane-scan: some of the named files could not be scanned\n");
    std::fflush(stdout);
    if (unreadFiles || removal == Removal::NotFinished) return kExitError;
    return findings.empty() ? kExitClean : kExitFound;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    switch (ParseOptions(argc, argv, options)) {
    case Parse::Help:
        std::printf("%s%s", kUsage, kHelp);
        return kExitClean;
    case Parse::Usage:
        std::fprintf(stderr, "%sTry 'tolvane-scan --help' for more.\n", kUsage);
        return kExitError;
    case Parse::Run:
        break;
    }
    if (FAILED(::CoInitialize(nullptr))) return kExitError;
    int result;
    {
        ComPtr<IScanEngineShellExtHelper> engine;
        HRESULT hr = ::CoCreateInstance(CLSID_ScanEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine));
        if (FAILED(hr)) {
            std::fprintf(stderr, "tolvane-scan: the scan engine is not installed (0x%08lX); install Tolvane with "
                                 "TolvaneSetup.exe\n",
                         static_cast<unsigned long>(hr));
            result = kExitError;
        } else {
            result = Scan(engine.Get(), options);
        }
    }
    ::CoUninitialize();
    return result;
}

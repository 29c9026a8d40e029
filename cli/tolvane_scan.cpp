// tolvane-scan: the scan engine from a console. It drives kwreng32 through COM only, as
// the program does: the running programs and autostart entries (or the files named on
// the command line), each finding printed, removed on request.
//
//   tolvane-scan [--remove] [--no-log] [FILE...]
//
// Exit status: 0 clean, 1 something was found (and, with --remove, removed), 2 error.
#include "engine_messages.h"
#include "kwreng32.h"
#include "unique_handle.h"

#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace tolvane;

namespace {

constexpr int kExitClean = 0;
constexpr int kExitFound = 1;
constexpr int kExitError = 2;

struct Options {
    bool remove = false;
    bool log = true;
    std::vector<std::wstring> files;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--remove")
            options.remove = true;
        else if (arg == L"--no-log")
            options.log = false;
        else if (arg == L"--help" || arg == L"-h" || arg == L"/?")
            return false;
        else if (arg.size() > 1 && arg[0] == L'-' && arg[1] == L'-')
            return false;
        else
            options.files.push_back(arg);
    }
    return true;
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

std::string Narrow(BSTR text) {
    int bytes = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes - 1 : 0, '\0');
    if (bytes > 1) ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

// Rows read "type**KWR**file**KWR**registry entry".
std::vector<std::string> SplitRow(const std::string& row) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = row.find("**KWR**", start)) != std::string::npos; start = at + 7)
        parts.push_back(row.substr(start, at - start));
    parts.push_back(row.substr(start));
    return parts;
}

int PrintFindings(IScanEngine* engine) {
    VARIANT list;
    ::VariantInit(&list);
    if (FAILED(engine->get_ProcessList(&list)) || V_VT(&list) != (VT_ARRAY | VT_BSTR))
        return -1;
    LONG lower = 0, upper = -1;
    ::SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
    ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR row = nullptr;
        if (FAILED(::SafeArrayGetElement(V_ARRAY(&list), &i, &row))) continue;
        unique_bstr owned(row);
        auto parts = SplitRow(Narrow(row));
        parts.resize(3);
        std::printf("FOUND %s\n      file:     %s\n      registry: %s\n", parts[0].c_str(),
                    parts[1].c_str(), parts[2].c_str());
    }
    ::VariantClear(&list);
    return upper - lower + 1;
}

int Scan(IScanEngineShellExtHelper* engine, const Options& options) {
    if (FAILED(engine->Init(options.log ? 1 : 0, 1))) return Fail(engine, "loading the signature files");
    auto close = scope_exit([&] { engine->Close(); });

    if (options.files.empty()) {
        long found = 0;
        if (FAILED(engine->DetectOrx(&found))) return Fail(engine, "the scan");
    } else {
        for (const auto& file : options.files) {
            unique_bstr path(::SysAllocString(file.c_str()));
            unsigned long code = 1;
            // ScanFile reports its code through its out parameter and leaves LastError alone.
            if (FAILED(engine->ScanFile(path.get(), &code)))
                return Fail(code, "the file scan");
        }
    }
    int findings = PrintFindings(engine);
    if (findings < 0) return Fail(engine, "reading the findings");
    if (findings == 0) {
        std::printf("No trojans found.\n");
        return kExitClean;
    }
    if (!options.remove) {
        std::printf("%d trojan(s) found. Run with --remove to remove them.\n", findings);
        return kExitFound;
    }
    long removed = 0;
    HRESULT hr = engine->RemoveOrx(&removed);
    if (FAILED(hr) || !removed) {
        std::fprintf(stderr, "tolvane-scan: There were errors during removal. See the log for details.\n");
        return kExitError;
    }
    std::printf("%d trojan(s) removed; their files are in the 'Infected Files' folder.\n", findings);
    return kExitFound;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: tolvane-scan [--remove] [--no-log] [FILE...]\n");
        return kExitError;
    }
    if (FAILED(::CoInitialize(nullptr))) return kExitError;
    int result;
    {
        ComPtr<IScanEngineShellExtHelper> engine;
        HRESULT hr = ::CoCreateInstance(CLSID_ScanEngine, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&engine));
        if (FAILED(hr)) {
            std::fprintf(stderr, "tolvane-scan: the scan engine is not installed (0x%08lX)\n",
                         static_cast<unsigned long>(hr));
            result = kExitError;
        } else {
            result = Scan(engine.Get(), options);
        }
    }
    ::CoUninitialize();
    return result;
}

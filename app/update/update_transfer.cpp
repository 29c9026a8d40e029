#include "update_transfer.h"

#include "resource.h"
#include "ui/message_box.h"
#include "update_file_check.h"
#include "update_version_file.h"

#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace tolvane {

namespace {

struct close_internet { void operator()(HINTERNET h) const { ::InternetCloseHandle(h); } };
using unique_internet = unique_any<HINTERNET, close_internet, detail::null_value<HINTERNET>>;

constexpr DWORD kBlockSize = 512;

// The data of one download, beside the file it is meant for: a download that fails or is
// cut leaves that file as it was, because the engines would refuse a half signature file
// and the program would copy a half engine module over the installed one at exit.
class ScratchFile {
public:
    explicit ScratchFile(std::string target) : target_(std::move(target)) {}
    ~ScratchFile() {
        file_.reset();
        if (!name_.empty()) ::DeleteFileA(name_.c_str());
    }

    bool Create() {
        std::string::size_type slash = target_.find_last_of("\\/");
        std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
        char name[MAX_PATH];
        if (!::GetTempFileNameA(folder.c_str(), "tvu", 0, name)) return false;
        name_ = name;
        file_.reset(::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.valid();
    }

    bool Write(const void* data, DWORD size) {
        DWORD written = 0;
        return ::WriteFile(file_.get(), data, size, &written, nullptr) && written == size;
    }

    // All data written: the file is closed and may be read back under path().
    bool Close() {
        if (!::FlushFileBuffers(file_.get())) return false;
        file_.reset();
        return true;
    }
    const std::string& path() const { return name_; }

    bool Commit() {
        if (!::MoveFileExA(name_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            // Windows 9x has no MoveFileEx; there the old file must go first.
            if (::GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
            ::DeleteFileA(target_.c_str());
            if (!::MoveFileA(name_.c_str(), target_.c_str())) return false;
        }
        name_.clear();
        return true;
    }

private:
    std::string target_;
    std::string name_;
    unique_file file_;
};

std::string FileName(const std::string& remote) {
    std::string::size_type at = remote.rfind('/');
    if (at == std::string::npos) at = remote.rfind('\\');
    return at == std::string::npos ? std::string() : remote.substr(at + 1);
}

void SetTimeouts(HINTERNET handle, DWORD milliseconds) {
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT})
        ::InternetSetOptionA(handle, option, &milliseconds, sizeof milliseconds);
}

// The parts of a sent GET; the request goes before the connection it belongs to.
struct HttpGet {
    unique_internet connection;
    unique_internet request;
    HINTERNET get() const { return request.get(); }
};

// InternetOpenUrl sends before a time-out can be set on its request, and Wine takes the
// receive time-out only when a request is sent; so the request is built and sent here.
std::optional<HttpGet> OpenUrl(const UpdateRun& run, HINTERNET session, const std::string& url, DWORD flags) {
    std::string host(INTERNET_MAX_HOST_NAME_LENGTH, '\0'), path(url.size() + 1, '\0'), extra(url.size() + 1, '\0');
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!::InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return std::nullopt;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP) return std::nullopt;
    HttpGet get;
    get.connection.reset(::InternetConnectA(session, host.c_str(), parts.nPort, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 1));
    if (!get.connection) return std::nullopt;
    std::string object = path.c_str() + std::string(extra.c_str());
    get.request.reset(::HttpOpenRequestA(get.connection.get(), "GET", object.c_str(), nullptr, nullptr, nullptr,
                                         flags | INTERNET_FLAG_NO_UI, 1));
    if (!get.request) return std::nullopt;
    SetTimeouts(get.request.get(), run.timeoutMilliseconds);
    if (!::HttpSendRequestA(get.request.get(), nullptr, 0, nullptr, 0)) return std::nullopt;
    return get;
}

std::optional<std::uint32_t> ContentLength(HINTERNET request) {
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return std::nullopt;
    return ParseContentLength(std::string_view(text, size));
}

DWORD StatusCode(HINTERNET request) {
    DWORD code = 0, size = sizeof code;
    ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr);
    return code;
}

TransferOutcome Refuse(UpdateRun& run, UINT message) {
    ShowMessage(message);
    run.result = kUpdateFailed;
    return TransferOutcome::Failed;
}

constexpr char kDamagedFile[] =
    "The file %s sent by the update server is damaged or is not the file Tolvane expects. It was not installed.";

constexpr char kUnsignedFile[] =
    "The file %s sent by the update server has no signature of the maker (.sig). It was not installed.";
constexpr char kForgedFile[] =
    "The signature of the file %s does not match the maker's key: the file is not the one the maker "
    "published. It was not installed.";

// A downloaded file that may not replace the one in use; the scratch file goes with it.
TransferOutcome RefuseFile(UpdateRun& run, const char* format, const std::string& remote) {
    char text[1024];
    std::snprintf(text, sizeof text, format, remote.c_str());
    run.dialog->SetStatus(text);
    ShowText(text, MB_OK | MB_ICONEXCLAMATION);
    run.result = kUpdateFailed;
    return TransferOutcome::Failed;
}

// A refused answer leaves nothing written. The status code decides, not the body: a
// signature file may well hold the characters "404" in its first block.
std::optional<TransferOutcome> CheckAnswer(UpdateRun& run, HINTERNET request, const std::string& remote) {
    DWORD status = StatusCode(request);
    if (status == HTTP_STATUS_NOT_FOUND || status == HTTP_STATUS_GONE)
        return RefuseFile(run, "File not found on Server: %s", remote);
    if (status < 200 || status > 299) return Refuse(run, IDS_UPDATE_SERVER_UNREACHABLE);
    return std::nullopt;
}

// Blocks of 512 bytes into `file` until the server's end; false on a read or write error,
// a cut connection or a cancel.
bool ReadAll(UpdateRun& run, HINTERNET request, ScratchFile& file, std::uint32_t announced) {
    std::uint32_t expected = ContentLength(request).value_or(announced);
    std::uint32_t total = 0;
    char block[kBlockSize];
    while (!run.cancel) {
        DWORD read = 0;
        if (!::InternetReadFile(request, block, sizeof block, &read)) return false;
        if (read == 0) return total == expected;
        if (!file.Write(block, read)) return false;
        total += read;
        ShowStatus(run, "%u of %u  bytes read", total, announced);
        run.dialog->SetPosition(total);
    }
    return false;
}

// The detached signature beside a file: empty when the server has none (any answer but
// 200) or the transfer breaks. One longer than any signature is read only that far, to fail
// the verification.
std::optional<std::vector<std::uint8_t>> FetchSignature(UpdateRun& run, HINTERNET session, const std::string& url) {
    std::optional<HttpGet> request = OpenUrl(run, session, url, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY);
    if (!request || StatusCode(request->get()) != HTTP_STATUS_OK) return std::nullopt;
    std::vector<std::uint8_t> signature;
    char block[kBlockSize];
    while (!run.cancel && signature.size() <= kMaxSignatureBytes) {
        DWORD read = 0;
        if (!::InternetReadFile(request->get(), block, sizeof block, &read)) return std::nullopt;
        if (read == 0) return signature;
        signature.insert(signature.end(), block, block + read);
    }
    return run.cancel ? std::nullopt : std::optional<std::vector<std::uint8_t>>(signature);
}

}  // namespace

void ShowStatus(UpdateRun& run, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    run.dialog->SetStatus(text);
}

TransferOutcome TransferFile(UpdateRun& run, const std::string& remote, const std::string& local,
                             DownloadKind kind) {
    unique_internet session(::InternetOpenA("Tolvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return TransferOutcome::Aborted;
    SetTimeouts(session.get(), run.timeoutMilliseconds);
    ScratchFile file(local);
    if (!file.Create()) return TransferOutcome::Aborted;
    if (run.cancel) return TransferOutcome::Failed;
    run.dialog->SetPosition(0);
    if (std::string name = FileName(remote); !name.empty()) run.dialog->SetCaption("Downloading " + name);
    if (run.cancel) return TransferOutcome::Failed;
    std::string url = run.transfers[kServer] + remote;
    run.dialog->SetStatus(remote.c_str());

    ShowStatus(run, "Getting File Information %s", url.c_str());
    if (run.cancel) {
        run.result = kUpdateFailed;
        return TransferOutcome::Failed;
    }
    std::optional<std::uint32_t> announced;
    {
        // Bypassing the cache here too, so the length belongs to the file read next.
        std::optional<HttpGet> request = OpenUrl(run, session.get(), url, INTERNET_FLAG_RELOAD);
        if (!request) return TransferOutcome::Aborted;
        announced = ContentLength(request->get());
    }
    if (!announced) return Refuse(run, IDS_UPDATE_SERVER_UNREACHABLE);
    run.dialog->SetUpperBound(*announced);
    ShowStatus(run, "Opening %s", remote.c_str());

    std::optional<HttpGet> request =
        OpenUrl(run, session.get(), url, INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY);
    if (!request) return TransferOutcome::Aborted;
    if (std::optional<TransferOutcome> refused = CheckAnswer(run, request->get(), remote)) return *refused;
    if (!ReadAll(run, request->get(), file, *announced))
        return run.cancel ? TransferOutcome::Failed : TransferOutcome::Aborted;
    if (!file.Close()) return TransferOutcome::Aborted;
    if (run.key) {
        std::optional<std::vector<std::uint8_t>> signature = FetchSignature(run, session.get(), url + ".sig");
        if (!signature) return run.cancel ? TransferOutcome::Failed : RefuseFile(run, kUnsignedFile, remote);
        if (!run.key->Verifies(file.path(), *signature)) return RefuseFile(run, kForgedFile, remote);
    }
    // A module of the other edition is refused like a damaged one: staged, it would replace
    // a module that loads with one that never does.
    if (!IsUsableDownload(file.path(), kind, kNativeMachine)) return RefuseFile(run, kDamagedFile, remote);
    return file.Commit() ? TransferOutcome::Done : TransferOutcome::Aborted;
}

}  // namespace tolvane

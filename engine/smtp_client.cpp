#include "smtp_client.h"

#include "smtp_reply.h"
#include "unique_handle.h"

#include <cstring>

namespace tolvane {
namespace {

constexpr char kSenderWord[] = "Tolvane";
constexpr char kMailerHeader[] = "X-Mailer: Tolvane\r\n";
constexpr char kEndOfData[] = "\r\n.\r\n";
constexpr int kReplyBuffer = 1024;

// Winsock is started and cleaned up around every send, so an Email object owes the
// process nothing once its send returns.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
    }
    ~WinsockSession() {
        if (started_) ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    explicit operator bool() const { return started_; }

private:
    bool started_ = false;
};

std::string CleanField(std::string_view text) {
    std::string field;
    for (char c : text) {
        if (c == '\r' || c == '\n') continue;
        if (field.size() == kMaxEmailField) break;
        field += c;
    }
    return field;
}

bool IsDottedAddress(const std::string& server) {
    return !server.empty() && server[0] >= '0' && server[0] <= '9' &&
           server.find('.') != std::string::npos;
}

bool FirstAddress(const hostent* host, in_addr* address) {
    if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list[0])
        return false;
    std::memcpy(&address->s_addr, host->h_addr_list[0], 4);
    return true;
}

// Dotted-decimal addresses go through the reverse lookup, names through the forward
// one; either way the first address of the answer is the one connected to. An address
// the resolver knows no name for (a machine without a hosts file knows none for
// 127.0.0.1) needs no lookup to be reached: it is connected to as given.
bool ResolveServer(const std::string& server, in_addr* address) {
    if (!IsDottedAddress(server)) return FirstAddress(::gethostbyname(server.c_str()), address);
    unsigned long numeric = ::inet_addr(server.c_str());
    if (numeric == INADDR_NONE) return false;
    if (FirstAddress(::gethostbyaddr(reinterpret_cast<const char*>(&numeric), 4, AF_INET), address))
        return true;
    address->s_addr = numeric;
    return true;
}

timeval Limit(DWORD ms) {
    timeval limit;
    limit.tv_sec = static_cast<long>(ms / 1000);
    limit.tv_usec = static_cast<long>(ms % 1000) * 1000;
    return limit;
}

// A blocking connect waits as long as the stack likes; a non-blocking one watched by
// select waits at most timeoutMs. The socket is blocking again afterwards.
bool ConnectWithin(SOCKET s, const sockaddr_in& target, DWORD timeoutMs) {
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) return false;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit = Limit(timeoutMs);
        if (::select(0, nullptr, &writable, &failed, &limit) <= 0) return false;
        if (FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) return false;
    }
    nonBlocking = 0;
    return ::ioctlsocket(s, FIONBIO, &nonBlocking) != SOCKET_ERROR;
}

long SendAll(SOCKET s, std::string_view bytes) {
    while (!bytes.empty()) {
        int sent = ::send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent == SOCKET_ERROR) return ::WSAGetLastError();
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return 0;
}

// One receive is judged, as a reply that arrives in pieces is judged on its first.
long ReadReply(SOCKET s, std::string_view expected, DWORD timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit = Limit(timeoutMs);
    int ready = ::select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) return ::WSAGetLastError();
    if (ready == 0) return WSAETIMEDOUT;
    char buffer[kReplyBuffer];
    int received = ::recv(s, buffer, kReplyBuffer, 0);
    if (received == SOCKET_ERROR) return ::WSAGetLastError();
    return JudgeReply(std::string_view(buffer, static_cast<std::size_t>(received)), expected);
}

long Command(SOCKET s, const std::string& line, std::string_view expected, DWORD timeoutMs) {
    if (long result = SendAll(s, line)) return result;
    return ReadReply(s, expected, timeoutMs);
}

std::string UserName() {
    char name[256] = {};
    DWORD size = 255;
    if (!::GetUserNameA(name, &size)) return std::string();
    return name;
}

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, 255) == SOCKET_ERROR) return std::string();
    return name;
}

std::string Message(const EmailSession& session, const std::string& hostName,
                    std::string_view body) {
    return std::string(kMailerHeader) + "To: " + session.recipient + "\r\n" + "From: " +
           kSenderWord + "@" + hostName + "\r\n" + "Subject: " + session.subject +
           "\r\n\r\n" + StuffDots(body);
}

// Everything after the greeting, up to the server's goodbye.
long Dialogue(SOCKET s, const EmailSession& session, std::string_view data, DWORD timeoutMs) {
    const std::string hostName = LocalHostName();
    const std::string body = ComposeBody(hostName, UserName(), data);
    const struct {
        std::string line;
        const char* expected;
    } opening[] = {
        {"HELO " + hostName + "\r\n", "250"},
        {std::string("MAIL FROM:") + kSenderWord + "\r\n", "250"},
        {"RCPT TO: " + session.recipient + "\r\n", "25"},  // 251 (forwarded) is fine too
        {"DATA\r\n", "354"},
    };
    for (const auto& step : opening)
        if (long result = Command(s, step.line, step.expected, timeoutMs)) return result;
    if (long result = SendAll(s, Message(session, hostName, body))) return result;
    if (long result = Command(s, kEndOfData, "250", timeoutMs)) return result;
    return Command(s, "QUIT\r\n", "221", timeoutMs);
}

}  // namespace

EmailSession MakeEmailSession(std::string_view mailServer, std::string_view recipient,
                              std::string_view subject, std::uint32_t port) {
    EmailSession session;
    session.mailServer = CleanField(mailServer);
    session.recipient = CleanField(recipient);
    session.subject = CleanField(subject);
    session.port = port;
    return session;
}

std::string ComposeBody(std::string_view machineName, std::string_view userName,
                        std::string_view data) {
    std::string body = "Machine Name: " + std::string(machineName) + "\r\nUser Name: " +
                       std::string(userName) + "\r\n";
    body.append(data.data(), data.size());
    if (body.size() > kMaxMailBody) body.resize(kMaxMailBody);
    return body;
}

std::string StuffDots(std::string_view text) {
    std::string stuffed;
    stuffed.reserve(text.size() + 16);
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && c == '.') stuffed += '.';
        stuffed += c;
        lineStart = c == '\n';
    }
    return stuffed;
}

long SendMail(const EmailSession& session, std::string_view data, DWORD timeoutMs) {
    WinsockSession winsock;
    if (!winsock) return E_FAIL;
    // Declared after the Winsock session, so it is closed before the clean-up.
    unique_socket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (!s) return E_FAIL;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = ::htons(static_cast<u_short>(session.port & 0xFFFF));
    if (!ResolveServer(session.mailServer, &target.sin_addr)) return E_FAIL;
    if (!ConnectWithin(s.get(), target, timeoutMs)) return E_FAIL;
    if (long result = ReadReply(s.get(), "220", timeoutMs)) return result;
    return Dialogue(s.get(), session, data, timeoutMs);
}

}  // namespace tolvane

// The mail client behind the Email object: one short text message to one recipient
// through the administrator's SMTP server, one complete exchange per call. Plain
// Winsock 1.1; nothing here knows about COM.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

// What Init stores: each text at most kMaxEmailField characters.
struct EmailSession {
    std::string mailServer;  // host name or dotted-decimal address
    std::string recipient;
    std::string subject;
    std::uint32_t port = 0;  // kept as given; its low 16 bits are the TCP port
};

constexpr std::size_t kMaxEmailField = 259;
constexpr std::size_t kMaxMailBody = 1024;
// Long enough for a slow server on a dial-up line, short enough that a server that
// accepts and then never answers does not hold an alert thread for good.
constexpr DWORD kSmtpTimeoutMs = 60000;

// Cuts each text to its field and drops carriage returns and line feeds, which would
// otherwise end the command or header line the text goes into and start one of the
// sender's choosing.
EmailSession MakeEmailSession(std::string_view mailServer, std::string_view recipient,
                              std::string_view subject, std::uint32_t port);

// The machine and user lines, then the caller's data, cut to kMaxMailBody bytes.
std::string ComposeBody(std::string_view machineName, std::string_view userName,
                        std::string_view data);

// Doubles a dot that begins a line, so no line of the text can end the DATA section;
// the server removes the added dots again.
std::string StuffDots(std::string_view text);

// One SMTP exchange. Returns 0 when the server took the message and the session ended
// with QUIT; E_FAIL when Winsock does not start, no socket is made, the server name
// does not resolve (a dotted address needs no name) or the connection fails; a Winsock
// error code (positive) when a send or receive fails, WSAETIMEDOUT when a reply takes
// longer than timeoutMs; the negative of a reply code other than the expected one; -1
// for a reply with no status line.
long SendMail(const EmailSession& session, std::string_view data,
              DWORD timeoutMs = kSmtpTimeoutMs);

}  // namespace tolvane

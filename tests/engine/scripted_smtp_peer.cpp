#include "scripted_smtp_peer.h"

#include <cstring>

namespace tolvane::test {

const char kNeverAnswer[] = "(never answer)";

namespace {

// However the client under test misbehaves, the peer gives up after this long, so a
// failing test ends instead of hanging the run.
constexpr long kPeerPatienceSeconds = 20;

bool Readable(SOCKET s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit{kPeerPatienceSeconds, 0};
    return ::select(0, &readable, nullptr, nullptr, &limit) == 1;
}

const std::string& ReplyFor(const PeerReplies& replies, const std::string& command) {
    static const std::string unknown = "500 unknown command\r\n";
    const std::string verb = command.substr(0, 4);
    if (verb == "HELO") return replies.helo;
    if (verb == "MAIL") return replies.mail;
    if (verb == "RCPT") return replies.rcpt;
    if (verb == "DATA") return replies.data;
    if (verb == "QUIT") return replies.quit;
    return unknown;
}

}  // namespace

ScriptedSmtpPeer::ScriptedSmtpPeer(PeerReplies replies) : replies_(std::move(replies)) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_.reset(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int size = sizeof address;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 1) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;  // port() stays 0 and the test's send fails to connect
    port_ = ::ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

ScriptedSmtpPeer::~ScriptedSmtpPeer() {
    Finish();
    listener_.reset();
    ::WSACleanup();
}

void ScriptedSmtpPeer::Finish() {
    if (thread_.joinable()) thread_.join();
}

const std::vector<std::string>& ScriptedSmtpPeer::Commands() {
    Finish();
    return commands_;
}

std::string ScriptedSmtpPeer::LastCommand() {
    const std::vector<std::string>& commands = Commands();
    return commands.empty() ? "<no command>" : commands.back();
}

const std::string& ScriptedSmtpPeer::Data() {
    Finish();
    return data_;
}

void ScriptedSmtpPeer::Serve() {
    if (!Readable(listener_.get())) return;
    unique_socket client(::accept(listener_.get(), nullptr, nullptr));
    if (client) Converse(client.get());
}

void ScriptedSmtpPeer::Converse(SOCKET client) {
    if (!Answer(client, replies_.greeting)) return;
    std::string line;
    while (ReadUntil(client, "\r\n", &line)) {
        line.resize(line.size() - 2);
        commands_.push_back(line);
        if (!Answer(client, ReplyFor(replies_, line))) return;
        if (line == "QUIT") return;
        if (line == "DATA" && replies_.data.compare(0, 3, "354") == 0) {
            if (!ReadUntil(client, "\r\n.\r\n", &data_)) return;
            if (!Answer(client, replies_.accepted)) return;
        }
    }
}

// false when the conversation is over: the reply closes it, or never comes.
bool ScriptedSmtpPeer::Answer(SOCKET client, const std::string& reply) {
    if (reply.empty()) return false;
    if (reply == kNeverAnswer) {
        char sink[256];
        while (Readable(client) && ::recv(client, sink, sizeof sink, 0) > 0) {
        }
        return false;
    }
    // One send, so that a reply of several lines reaches the client in one piece.
    return ::send(client, reply.data(), static_cast<int>(reply.size()), 0) ==
           static_cast<int>(reply.size());
}

bool ScriptedSmtpPeer::ReadUntil(SOCKET client, const std::string& mark, std::string* text) {
    for (;;) {
        std::size_t at = pending_.find(mark);
        if (at != std::string::npos) {
            *text = pending_.substr(0, at + mark.size());
            pending_.erase(0, at + mark.size());
            return true;
        }
        char buffer[4096];
        if (!Readable(client)) return false;
        int received = ::recv(client, buffer, sizeof buffer, 0);
        if (received <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(received));
    }
}

}  // namespace tolvane::test

// An SMTP server of the tests' own, on 127.0.0.1, for answers a real server rarely
// gives: it takes one connection, answers each command with the text the test chose,
// and records what the client sent.
#pragma once

#include "unique_handle.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::test {

// What the peer answers, by command. An empty answer closes the connection instead;
// kNeverAnswer leaves the client waiting until it hangs up.
struct PeerReplies {
    std::string greeting = "220 peer ready\r\n";
    std::string helo = "250 hello\r\n";
    std::string mail = "250 sender ok\r\n";
    std::string rcpt = "250 recipient ok\r\n";
    std::string data = "354 go ahead\r\n";
    std::string accepted = "250 queued\r\n";
    std::string quit = "221 bye\r\n";
};

extern const char kNeverAnswer[];

class ScriptedSmtpPeer {
public:
    explicit ScriptedSmtpPeer(PeerReplies replies = PeerReplies());
    ~ScriptedSmtpPeer();
    ScriptedSmtpPeer(const ScriptedSmtpPeer&) = delete;
    ScriptedSmtpPeer& operator=(const ScriptedSmtpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // Waits until the peer has finished with its connection (the client's send must have
    // returned), then gives the command lines it received, without line ends.
    const std::vector<std::string>& Commands();
    // The last of them, or "<no command>" when the client never got as far as one.
    std::string LastCommand();
    // Everything the client sent after the DATA answer, up to and including the end mark.
    const std::string& Data();

private:
    void Serve();
    void Converse(SOCKET client);
    bool Answer(SOCKET client, const std::string& reply);
    bool ReadUntil(SOCKET client, const std::string& mark, std::string* text);
    void Finish();

    PeerReplies replies_;
    unique_socket listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string pending_;
    std::vector<std::string> commands_;
    std::string data_;
};

}  // namespace tolvane::test

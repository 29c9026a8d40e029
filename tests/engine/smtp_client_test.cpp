// Whole SMTP exchanges: against a real server on 127.0.0.1 and 127.0.0.2 (aiosmtpd,
// started for this test by CTest) and against a scripted peer for the answers real
// servers rarely give.
#include "loopback_smtp_sink.h"
#include "scripted_smtp_peer.h"
#include "smtp_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <set>
#include <string>
#include <vector>

namespace tolvane {
namespace {

using test::Identity;
using test::LocalIdentity;
using test::PeerReplies;
using test::ReceivedMail;
using test::ScriptedSmtpPeer;

constexpr DWORD kShortTimeoutMs = 500;

class LoopbackSmtpServer : public test::LoopbackSmtpSink {
protected:
    EmailSession Session(const std::string& subject, const std::string& server = "127.0.0.1") {
        return MakeEmailSession(server, "admin@example.com", subject, static_cast<std::uint32_t>(port_));
    }
};

TEST_F(LoopbackSmtpServer, TestMessageArrivesWithEnvelopeHeadersAndBody) {
    Identity me = LocalIdentity();
    ASSERT_EQ(0, SendMail(Session("AdminAlert test"), test::kTestMessageText));
    ReceivedMail mail = Received("AdminAlert test");
    EXPECT_EQ(me.host, mail.helo);
    EXPECT_EQ("Tolvane", mail.from);
    EXPECT_EQ(std::vector<std::string>{"admin@example.com"}, mail.to);
    EXPECT_EQ("X-Mailer: Tolvane\r\nTo: admin@example.com\r\nFrom: Tolvane@" + me.host +
                  "\r\nSubject: AdminAlert test\r\n",
              mail.headers);
    // The end-of-data mark adds the line end that closes the last line.
    EXPECT_EQ("Machine Name: " + me.host + "\r\nUser Name: " + me.user + "\r\n" + test::kTestMessageText + "\r\n",
              mail.body);
}

TEST_F(LoopbackSmtpServer, AlertWithLoneDotLineArrivesWhole) {
    std::string alert = "A trojan has been detected.\r\n.\r\nQUIT\r\n.hidden\r\nend of alert";
    ASSERT_EQ(0, SendMail(Session("dot alert"), alert));
    ReceivedMail mail = Received("dot alert");
    EXPECT_NE(std::string::npos, mail.body.find("\r\n" + alert + "\r\n")) << mail.body;
}

TEST_F(LoopbackSmtpServer, InjectedHeaderInSubjectStaysInsideTheSubject) {
    ASSERT_EQ(0, SendMail(Session("inject\r\nBcc: evil@example.com"), "x"));
    ReceivedMail mail = Received("injectBcc: evil@example.com");
    EXPECT_EQ(std::vector<std::string>{"admin@example.com"}, mail.to);
    EXPECT_EQ(std::string::npos, mail.headers.find("\r\nBcc:")) << mail.headers;
}

bool NameResolves(const char* name) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(1, 1), &data);
    bool resolves = ::gethostbyname(name) != nullptr;
    ::WSACleanup();
    return resolves;
}

// 127.0.0.2 has no name on an ordinary machine, and a machine without a hosts file has
// none for 127.0.0.1 either: the address itself is enough. A name needs the resolver.
TEST_F(LoopbackSmtpServer, ServerByNameAndByDottedAddressBothDeliver) {
    EXPECT_EQ(0, SendMail(Session("by address", "127.0.0.1"), "x"));
    EXPECT_EQ(0, SendMail(Session("by address without a name", "127.0.0.2"), "x"));
    Received("by address");
    Received("by address without a name");
    if (NameResolves("localhost")) {
        EXPECT_EQ(0, SendMail(Session("by name", "localhost"), "x"));
        Received("by name");
    } else {
        EXPECT_EQ(E_FAIL, SendMail(Session("by name", "localhost"), "x")) << "a name that does not resolve";
    }
}

TEST_F(LoopbackSmtpServer, PortAbove65535UsesItsLowSixteenBits) {
    EmailSession session = Session("high port");
    session.port += 0x30000u;
    ASSERT_EQ(0, SendMail(session, "x"));
    Received("high port");
}

TEST_F(LoopbackSmtpServer, LongDataIsCutToTheBodyLimit) {
    std::string data;
    for (int i = 0; data.size() < 3000; ++i) data += "line " + std::to_string(i) + "\r\n";
    ASSERT_EQ(0, SendMail(Session("long data"), data));
    ReceivedMail mail = Received("long data");
    Identity me = LocalIdentity();
    EXPECT_EQ(ComposeBody(me.host, me.user, data) + "\r\n", mail.body);
    EXPECT_EQ(kMaxMailBody + 2, mail.body.size());
}

TEST_F(LoopbackSmtpServer, SeveralThreadsSendAtOnce) {
    constexpr int kSenders = 8;
    std::vector<std::future<long>> results;
    for (int i = 0; i < kSenders; ++i) {
        EmailSession session = Session("parallel " + std::to_string(i));
        results.push_back(std::async(std::launch::async, [session, i] {
            return SendMail(session, "alert number " + std::to_string(i) + "\r\n");
        }));
    }
    for (int i = 0; i < kSenders; ++i) EXPECT_EQ(0, results[i].get()) << "sender " << i;
    for (int i = 0; i < kSenders; ++i) {
        ReceivedMail mail = Received("parallel " + std::to_string(i));
        EXPECT_NE(std::string::npos, mail.body.find("alert number " + std::to_string(i) + "\r\n"))
            << mail.body;
    }
}

// A port of 127.0.0.1 on which nothing listens: bound once by the system's choice,
// then let go.
std::uint16_t UnusedPort() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    int size = sizeof address;
    {
        unique_socket s(::socket(AF_INET, SOCK_STREAM, 0));
        ::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &size);
    }
    ::WSACleanup();
    return ::ntohs(address.sin_port);
}

TEST(SmtpConnection, RefusedConnectionIsEFail) {
    std::uint16_t port = UnusedPort();
    ASSERT_NE(0, port);
    EXPECT_EQ(E_FAIL, SendMail(MakeEmailSession("127.0.0.1", "a@b", "s", port), "x", kShortTimeoutMs));
}

// ---- the scripted peer ------------------------------------------------------------

long SendTo(const ScriptedSmtpPeer& peer, std::string_view data = "x\r\n", DWORD timeoutMs = kSmtpTimeoutMs) {
    return SendMail(MakeEmailSession("127.0.0.1", "admin@example.com", "s", peer.port()), data, timeoutMs);
}

TEST(ScriptedPeer, CommandLinesAreExactlyTheDialogue) {
    ScriptedSmtpPeer peer;
    ASSERT_EQ(0, SendTo(peer));
    Identity me = LocalIdentity();
    EXPECT_EQ((std::vector<std::string>{"HELO " + me.host, "MAIL FROM:Tolvane",
                                        "RCPT TO: admin@example.com", "DATA", "QUIT"}),
              peer.Commands());
}

TEST(ScriptedPeer, InjectedCommandInRecipientStaysOneLine) {
    ScriptedSmtpPeer peer;
    EXPECT_EQ(0, SendMail(MakeEmailSession("127.0.0.1", "admin@example.com\r\nRCPT TO: evil@example.com",
                                           "s", peer.port()),
                          "x"));
    const std::vector<std::string>& commands = peer.Commands();
    EXPECT_EQ(1, std::count_if(commands.begin(), commands.end(),
                               [](const std::string& c) { return c.compare(0, 4, "RCPT") == 0; }));
    EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(),
                                        "RCPT TO: admin@example.comRCPT TO: evil@example.com"));
}

TEST(ScriptedPeer, ForwardedRecipientIsAccepted) {
    PeerReplies replies;
    replies.rcpt = "251 User not local; will forward\r\n";
    ScriptedSmtpPeer peer(replies);
    EXPECT_EQ(0, SendTo(peer));
    EXPECT_EQ("QUIT", peer.LastCommand());
}

TEST(ScriptedPeer, TwoLineGreetingInOneReceiveIsAccepted) {
    PeerReplies replies;
    replies.greeting = "220-peer.example.com first line\r\n220 peer.example.com ready\r\n";
    ScriptedSmtpPeer peer(replies);
    EXPECT_EQ(0, SendTo(peer));
}

TEST(ScriptedPeer, RefusedSenderGivesNegatedCodeAndNoMoreCommands) {
    PeerReplies replies;
    replies.mail = "550 5.7.1 sender refused\r\n";
    ScriptedSmtpPeer peer(replies);
    EXPECT_EQ(-550, SendTo(peer));
    EXPECT_EQ("MAIL FROM:Tolvane", peer.LastCommand());
}

// Replies that end the exchange early, and what SendMail makes of each: a status line
// that never comes (-1), a connection closed instead of a reply (-1, nothing to read),
// the message refused after its data (the code, negated).
TEST(ScriptedPeer, FailedRepliesGiveTheirResultCodes) {
    const struct {
        std::string PeerReplies::*step;
        const char* reply;
        long expected;
    } cases[] = {
        {&PeerReplies::rcpt, "250-this reply never ends\r\n", -1},
        {&PeerReplies::helo, "", -1},
        {&PeerReplies::accepted, "554 message refused\r\n", -554},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("reply \"") + c.reply + "\"");
        PeerReplies replies;
        replies.*c.step = c.reply;
        ScriptedSmtpPeer peer(replies);
        EXPECT_EQ(c.expected, SendTo(peer));
    }
}

TEST(ScriptedPeer, SilentServerTimesOut) {
    for (std::string PeerReplies::*silent : {&PeerReplies::greeting, &PeerReplies::data}) {
        PeerReplies replies;
        replies.*silent = test::kNeverAnswer;
        ScriptedSmtpPeer peer(replies);
        DWORD start = ::GetTickCount();
        EXPECT_EQ(WSAETIMEDOUT, SendTo(peer, "x", kShortTimeoutMs));
        DWORD elapsed = ::GetTickCount() - start;
        EXPECT_GE(elapsed, kShortTimeoutMs - 100);
        EXPECT_LT(elapsed, 10000u);
    }
}

TEST(ScriptedPeer, LoneDotLineArrivesStuffed) {
    ScriptedSmtpPeer peer;
    ASSERT_EQ(0, SendTo(peer, ".leading\r\n.\r\nMAIL FROM:evil\r\n"));
    const std::string& data = peer.Data();
    std::string body = data.substr(data.find("\r\n\r\n") + 4);
    Identity me = LocalIdentity();
    EXPECT_EQ("Machine Name: " + me.host + "\r\nUser Name: " + me.user +
                  "\r\n..leading\r\n..\r\nMAIL FROM:evil\r\n\r\n.\r\n",
              body);
    EXPECT_EQ((std::vector<std::string>{"HELO " + me.host, "MAIL FROM:Tolvane",
                                        "RCPT TO: admin@example.com", "DATA", "QUIT"}),
              peer.Commands());
}

}  // namespace
}  // namespace tolvane

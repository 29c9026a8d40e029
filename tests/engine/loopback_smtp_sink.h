// The loopback SMTP server (aiosmtpd) that CTest starts for the mail tests, as a test
// fixture: its port, and the messages it stored.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane::test {

// String 101 of kwreng32, the text of the AdminAlert test message.
inline constexpr char kTestMessageText[] =
    "If you receive this message, then AdminAlert is configured properly!\r\n";

// What the mail client puts into every message about the machine it runs on.
struct Identity {
    std::string host;
    std::string user;
};

Identity LocalIdentity();

// One message as the loopback server stored it: its envelope, then headers and body.
struct ReceivedMail {
    std::string helo;
    std::string from;
    std::vector<std::string> to;
    std::string headers;  // each line with its CR LF
    std::string body;
};

class LoopbackSmtpSink : public ::testing::Test {
protected:
    void SetUp() override;

    // The one stored message whose subject is `subject`; a failure unless exactly one.
    ReceivedMail Received(const std::string& subject);

    std::string folder_;
    int port_ = 0;
};

}  // namespace tolvane::test

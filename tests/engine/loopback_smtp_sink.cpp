#include "loopback_smtp_sink.h"

#include "test_support.h"
#include "unique_handle.h"

#include <algorithm>
#include <cstdlib>

namespace tolvane::test {
namespace {

ReceivedMail ParseStored(const std::string& stored) {
    ReceivedMail mail;
    std::size_t split = stored.find("\n\n");
    std::string envelope = stored.substr(0, split + 1);
    for (std::size_t at = 0, end; (end = envelope.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = envelope.substr(at, end - at);
        std::string key = line.substr(0, line.find(' '));
        std::string value = line.substr(key.size() + 1);
        if (key == "helo") mail.helo = value;
        if (key == "from") mail.from = value;
        if (key == "to") mail.to.push_back(value);
    }
    std::string content = stored.substr(split + 2);
    std::size_t headerEnd = content.find("\r\n\r\n");
    mail.headers = content.substr(0, headerEnd + 2);
    mail.body = content.substr(headerEnd + 4);
    return mail;
}

}  // namespace

Identity LocalIdentity() {
    Identity identity;
    WSADATA data;
    ::WSAStartup(MAKEWORD(1, 1), &data);
    char name[256] = {};
    if (::gethostname(name, sizeof name) == 0) identity.host = name;
    ::WSACleanup();
    DWORD size = sizeof name;
    if (::GetUserNameA(name, &size)) identity.user = name;
    return identity;
}

void LoopbackSmtpSink::SetUp() {
    const char* folder = std::getenv("TOLVANE_SMTP_SINK");
    ASSERT_NE(nullptr, folder) << "TOLVANE_SMTP_SINK names the loopback server's folder";
    // The server is a Unix process; Wine shows the root of Unix as drive Z:.
    folder_ = std::string("Z:") + folder;
    std::replace(folder_.begin(), folder_.end(), '/', '\\');
    port_ = std::atoi(ReadText(folder_ + "\\port").c_str());
    ASSERT_GT(port_, 0) << "no port in " << folder_;
}

ReceivedMail LoopbackSmtpSink::Received(const std::string& subject) {
    std::vector<ReceivedMail> found;
    std::string messages = folder_ + "\\messages";
    WIN32_FIND_DATAA data;
    unique_find find(::FindFirstFileA((messages + "\\*.eml").c_str(), &data));
    if (find) {
        do {
            ReceivedMail mail = ParseStored(ReadText(messages + "\\" + data.cFileName));
            if (mail.headers.find("\r\nSubject: " + subject + "\r\n") != std::string::npos)
                found.push_back(mail);
        } while (::FindNextFileA(find.get(), &data));
    }
    EXPECT_EQ(1u, found.size()) << "messages with subject \"" << subject << "\"";
    return found.empty() ? ReceivedMail() : found.front();
}

}  // namespace tolvane::test

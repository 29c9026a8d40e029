// The byte-level rules of the mail client: how a reply is judged, what Init keeps of
// the three texts, and the body that goes on the wire.
#include "smtp_client.h"
#include "smtp_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

using namespace std::string_literals;

TEST(JudgeReply, FinalLineWithTheExpectedCodeIsAccepted) {
    EXPECT_EQ(0, JudgeReply("220 mail.example.com ESMTP ready\r\n", "220"));
    EXPECT_EQ(0, JudgeReply("250 ok\n", "250"));
    EXPECT_EQ(0, JudgeReply("250 ok", "250")) << "a line without its line end still counts";
}

TEST(JudgeReply, RecipientPrefixAcceptsForwardedAddress) {
    EXPECT_EQ(0, JudgeReply("251 User not local; will forward\r\n", "25"));
    EXPECT_EQ(0, JudgeReply("250 Recipient ok\r\n", "25"));
    EXPECT_EQ(-252, JudgeReply("252 Cannot verify\r\n", "250"));
}

TEST(JudgeReply, ContinuationLinesAreSkippedUpToTheFinalLine) {
    EXPECT_EQ(0, JudgeReply("220-first line\r\n220-second\r\n220 last\r\n", "220"));
    EXPECT_EQ(0, JudgeReply("250-PIPELINING\r\n\r\n250-SIZE 100\r\n250 HELP\r\n", "250"));
    EXPECT_EQ(-554, JudgeReply("220-welcome\r\n554 go away\r\n", "220"));
}

TEST(JudgeReply, ShortLinesAreNotStatusLines) {
    EXPECT_EQ(0, JudgeReply("ok\r\n250\r\n250 done\r\n", "250")) << "\"250\\r\" has no space in fourth place";
    EXPECT_EQ(-1, JudgeReply("250\r\n", "250"));
}

TEST(JudgeReply, OnlyTheFirstFinalLineIsJudged) {
    EXPECT_EQ(-550, JudgeReply("550 no such user\r\n250 ok\r\n", "250"));
}

TEST(JudgeReply, ForeignCodeIsReturnedNegated) {
    EXPECT_EQ(-550, JudgeReply("550 5.7.1 Relaying denied\r\n", "250"));
    EXPECT_EQ(-421, JudgeReply("421 closing\r\n", "220"));
    EXPECT_EQ(-1, JudgeReply("abc is no code\r\n", "250"));
}

TEST(JudgeReply, ZeroCodeIsNotMistakenForSuccess) {
    EXPECT_EQ(-1, JudgeReply("000 zero\r\n", "250"));
}

TEST(JudgeReply, ReplyWithoutStatusLineIsMinusOne) {
    EXPECT_EQ(-1, JudgeReply("", "220"));
    EXPECT_EQ(-1, JudgeReply("\r\n\n\n", "220"));
    EXPECT_EQ(-1, JudgeReply("250-more to come\r\n", "250"));
}

TEST(JudgeReply, TextEndsAtFirstZeroByte) {
    EXPECT_EQ(-1, JudgeReply("250-x\r\n\0" "250 hidden\r\n"s, "250"));
}

TEST(JudgeReply, LongRunOfDigitsDoesNotOverflow) {
    long result = JudgeReply("99999999999999999999 x\r\n", "250");
    EXPECT_LT(result, 0) << result;
}

TEST(MakeEmailSession, LineBreaksAreDroppedFromEveryText) {
    EmailSession session = MakeEmailSession("mail.example.com\r\nQUIT", "admin@example.com\r\nRCPT TO: evil@x",
                                            "Alert\nBcc: evil@x", 25);
    EXPECT_EQ("mail.example.comQUIT", session.mailServer);
    EXPECT_EQ("admin@example.comRCPT TO: evil@x", session.recipient);
    EXPECT_EQ("AlertBcc: evil@x", session.subject);
}

TEST(MakeEmailSession, TextsAreCutToTheirFieldsAndPortIsKept) {
    std::string longText(300, 'a');
    EmailSession session = MakeEmailSession(longText, longText, longText, 0x12345u);
    EXPECT_EQ(kMaxEmailField, session.mailServer.size());
    EXPECT_EQ(kMaxEmailField, session.recipient.size());
    EXPECT_EQ(kMaxEmailField, session.subject.size());
    EXPECT_EQ(0x12345u, session.port);
}

TEST(MakeEmailSession, DroppedLineBreaksDoNotCountAgainstTheField) {
    std::string text = std::string(kMaxEmailField, 'b');
    text.insert(10, "\r\n");
    EXPECT_EQ(std::string(kMaxEmailField, 'b'), MakeEmailSession(text, "", "", 25).mailServer);
}

TEST(ComposeBody, MachineAndUserLinesPrecedeTheData) {
    EXPECT_EQ("Machine Name: HOST\r\nUser Name: ann\r\nA trojan was found.\r\n",
              ComposeBody("HOST", "ann", "A trojan was found.\r\n"));
}

TEST(ComposeBody, LongDataIsCutSoTheBodyStaysWithinLimit) {
    std::string data(2000, 'x');
    std::string body = ComposeBody("HOST", "ann", data);
    ASSERT_EQ(kMaxMailBody, body.size());
    std::string head = "Machine Name: HOST\r\nUser Name: ann\r\n";
    EXPECT_EQ(head + std::string(kMaxMailBody - head.size(), 'x'), body);
}

TEST(StuffDots, LeadingDotOfEveryLineIsDoubled) {
    EXPECT_EQ("a\r\n..\r\nb\r\n", StuffDots("a\r\n.\r\nb\r\n"));
    EXPECT_EQ("..first\r\n...more\r\n", StuffDots(".first\r\n..more\r\n"));
    EXPECT_EQ("a\n..\nb", StuffDots("a\n.\nb")) << "a bare line feed ends a line for some servers";
}

TEST(StuffDots, DotsInsideLinesAreLeftAlone) {
    EXPECT_EQ("www.example.com. end.\r\n", StuffDots("www.example.com. end.\r\n"));
    EXPECT_EQ("", StuffDots(""));
}

}  // namespace
}  // namespace tolvane

#include "log_texts.h"
#include "scan_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace tolvane;
using tolvane::test::ReadText;
using tolvane::test::TempDir;

TEST(ScanLogText, StartLineHasTheDateWithTwoSpacesOnEachSide) {
    std::tm t{};
    t.tm_year = 100;
    t.tm_mon = 5;
    t.tm_mday = 21;
    t.tm_hour = 14;
    t.tm_min = 5;
    t.tm_wday = 3;
    t.tm_yday = 172;
    EXPECT_EQ("***************** Scan started on  Wednesday June 21, 2000 at 14:05  ****************\r\n",
              FormatLogStartLine(t));
}

TEST(ScanLogText, BannersHaveTheirExactRuns) {
    EXPECT_EQ(std::string("\r\n\t   ") + std::string(16, '-') + " No Trojans detected " + std::string(16, '-') + "\r\n",
              log_text::kNoneFound);
    EXPECT_EQ(std::string("\t     ") + std::string(15, '-') + " Detection Phase Started " + std::string(17, '-') + "\r\n",
              log_text::kDetectionBanner);
    EXPECT_EQ(std::string("\r\n\r\n\t     ") + std::string(20, '-') + " Removal Phase " + std::string(22, '-') + "\r\n",
              log_text::kRemovalBanner);
    EXPECT_EQ(std::string("\r\n") + std::string(32, '*') + " Scan completed " + std::string(36, '*') + "\r\n\r\n",
              log_text::kEndLine);
    std::string start = log_text::kStartLead;
    EXPECT_EQ(std::string(17, '*') + " Scan started on ", start);
    EXPECT_EQ(std::string(" ") + std::string(16, '*') + "\r\n", log_text::kStartTail);
}

TEST(ScanLog, TextModeWritesCarriageReturnBeforeEveryLineFeed) {
    TempDir dir;
    {
        ScanLog log(dir / "Tolvane.log", true);
        log.Write("a\r\nb\n");
        log.Finish();
    }
    std::string text = ReadText(dir / "Tolvane.log");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ("\r\n", text.substr(0, 2)) << "each run starts on a fresh line";
    EXPECT_NE(std::string::npos, text.find("a\r\r\nb\r\n")) << text;
    EXPECT_EQ(std::string("\r\r\n") + std::string(32, '*') + " Scan completed " + std::string(36, '*') + "\r\r\n\r\r\n",
              text.substr(text.size() - (3 + 32 + 16 + 36 + 6)));
}

TEST(ScanLog, AppendsAndNeverTruncates) {
    TempDir dir;
    ASSERT_TRUE(test::WriteText(dir / "Tolvane.log", "earlier runs\r\n"));
    {
        ScanLog log(dir / "Tolvane.log", false);
        log.Write("not written");
        log.Finish();
    }
    EXPECT_EQ("earlier runs\r\n\r\n", ReadText(dir / "Tolvane.log"));
}

TEST(ScanLog, UnopenableFileWritesNothingAndDoesNotFail) {
    TempDir dir;
    ScanLog log(dir / "missing folder\\Tolvane.log", true);
    log.Write("x");
    log.Finish();
    EXPECT_FALSE(test::FileExists(dir / "missing folder\\Tolvane.log"));
}

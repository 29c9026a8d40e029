// The version file and the decisions taken from it, on bytes a server might send.
#include "test_support.h"
#include "update/update_version_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace tolvane;
using namespace tolvane::test;

namespace {

TEST(VersionFile, ReadsSectionFilesOnlyFirstValueWinsNamesInAnyCase) {
    VersionFile file = ParseVersionFile(
        "[other]\r\ndefs=1/1/1999\r\nENGINE_VERSION_MAJ=9\r\n"
        "[ Files ]\r\n  DEFS = 6/21/2000 \r\nengine_version_maj=4\r\nENGINE_VERSION_MIN=1\r\ndefs=7/7/2007\r\n");
    EXPECT_EQ("6/21/2000", file.defs);
    EXPECT_EQ(4u, file.engineMajor);
    EXPECT_EQ(1u, file.engineMinor);
    EXPECT_EQ(0u, file.engineBuild) << "missing key";
    EXPECT_EQ("ERROR", ParseVersionFile("defs=6/21/2000\n").defs) << "outside any section";
    EXPECT_EQ("ERROR", ParseVersionFile(std::string("\0\xff[files\n", 9)).defs);
}

// The platform's own reading of the same bytes is the reference; each file gets a name of
// its own, as the profile functions keep the last file they read.
TEST(VersionFile, ReadsValuesAsGetPrivateProfileStringDoes) {
    const std::string long300(300, '7'), quoted259 = "\"" + std::string(258, '8') + "\"";
    const std::string cases[] = {
        "[files]\r\ndefs=\"6/22/2000\"\r\n",
        "[files]\r\ndefs='6/22/2000'\r\n",
        "[files]\r\ndefs=\"6/22/2000\r\n",
        "[files]\r\ndefs=\"6/22/2000'\r\n",
        "[files]\r\ndefs=\"\r\n",
        "[files]\r\ndefs=\"\"\r\n",
        "[files]\r\ndefs = \"  6/22/2000 \"  \r\n",
        "[files]\r\n  DEFS \t= 6/21/2000 \t\r\n",
        "[ files ]\r\ndefs=1/1/2001\r\n",
        "  [Files]  \r\ndefs=1/1/2001\r\n",
        "[files] ; note\r\ndefs=1/1/2001\r\n",
        "[files]x]\r\ndefs=1/1/2001\r\n",
        "[files]\r\nother=1\r\n[more]\r\n[files]\r\ndefs=2/2/2002\r\n",
        "[files]\r\ndefs\r\ndefs=3/3/2003\r\n",
        "[files]\r\n;defs=1/1/1990\r\ndefs=9/9/2009\r\n",
        "[files]\r\ndefs=a=b\r\n",
        "\xEF\xBB\xBF[files]\r\ndefs=4/4/2004\r\n",
        std::string("\xFF\xFE[\0f\0i\0l\0e\0s\0]\0\n\0d\0e\0f\0s\0=\0\x35\0/\0\x35\0\n\0", 36),
        "[files]\rdefs=5/5/2005\r",
        "[files]\ndefs=6/6/2006\x1a\n",
        "[files]\ndefs=\v6/6/2006\f\n",
        std::string("[files]\ndefs=7/7\0/2007\n", 23),
        "[files]\ndefs=" + long300 + "\n",
        "[files]\ndefs=\"" + long300 + "\"\n",
        "[files]\ndefs=" + quoted259 + "\n",
        "[files]\ndefs=" + quoted259 + "9\"\n",
        "[files\ndefs=1/1/2001\n",
        "defs=1/1/2001\n",
        "[files]\ndefs=\n",
    };
    TempDir folder;
    int index = 0;
    for (const std::string& bytes : cases) {
        std::string path = folder / ("v" + std::to_string(index++) + ".ini");
        ASSERT_TRUE(WriteBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
        for (DWORD size : {260u, 6u}) {
            char platform[260];
            std::memset(platform, 0x5A, sizeof platform);
            ::GetPrivateProfileStringA("files", "defs", "ERROR", platform, size, path.c_str());
            EXPECT_EQ(platform, ReadProfileString(bytes, "files", "defs", "ERROR", size))
                << "case " << index - 1 << ", buffer " << size;
        }
    }
}

TEST(VersionFile, QuotedDatesAndNumbersReadWithoutTheirQuotes) {
    VersionFile file = ParseVersionFile(
        "[files]\r\ndefs=\"6/22/2000\"\r\nENGINE_VERSION_MAJ=\" 4\"\r\nENGINE_VERSION_MIN='\t7'\r\n"
        "ENGINE_VERSION_BLD=\"3\r\n");
    EXPECT_EQ("6/22/2000", file.defs);
    EXPECT_EQ(kNewerDefs, CompareVersions(file, DefsDate{6, 21, 2000}, EngineVersion{4, 7, 0}))
        << "newer than 6/21/2000; the engine 4.7.0 equals the file's";
    EXPECT_EQ(4u, file.engineMajor) << "blanks before the digits";
    EXPECT_EQ(7u, file.engineMinor);
    EXPECT_EQ(0u, file.engineBuild) << "an unmatched quote stays and is no digit";
}

TEST(VersionFile, HostileValuesAreCutOrReadAsZero) {
    VersionFile file = ParseVersionFile("[files]\ndefs=" + std::string(5000, '7') +
                                        "\nENGINE_VERSION_MAJ=-1\nENGINE_VERSION_MIN=12abc\n"
                                        "ENGINE_VERSION_BLD=99999999999\n");
    EXPECT_EQ(259u, file.defs.size());
    EXPECT_EQ(0u, file.engineMajor) << "a sign is no digit";
    EXPECT_EQ(12u, file.engineMinor);
    EXPECT_EQ(0u, file.engineBuild) << "past 32 bits";
}

TEST(VersionFile, DateSplitsIntoMonthDayYear) {
    auto split = [](const char* text) {
        std::optional<DefsDate> d = SplitDate(text);
        return d ? std::to_string(d->month) + " " + std::to_string(d->day) + " " + std::to_string(d->year) : "none";
    };
    EXPECT_EQ("6 21 2000", split("6/21/2000"));
    EXPECT_EQ("0 0 0", split("x/y/z"));
    EXPECT_EQ("6 22 2000", split("6/ 22/\t2000")) << "blanks before a field's digits";
    EXPECT_EQ("12 31 65535", split("12/31/99999999999")) << "a huge year stays the latest";
    EXPECT_EQ("none", split("<Unknown>"));
    EXPECT_EQ("none", split("6/21"));
    EXPECT_EQ("none", split("ERROR"));
}

TEST(VersionFile, ComparisonTakesYearThenMonthThenDayAndEngineUnsigned) {
    VersionFile remote;
    remote.defs = "1/1/2001";
    const EngineVersion installed{3, 0, 2};
    EXPECT_EQ(kNewerDefs, CompareVersions(remote, DefsDate{12, 31, 2000}, installed)) << "later year, earlier month";
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, DefsDate{1, 1, 2001}, installed));
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, DefsDate{1, 2, 2001}, installed));
    EXPECT_EQ(kNewerDefs, CompareVersions(remote, std::nullopt, installed)) << "no definitions ever loaded";
    remote.engineMajor = 3;
    remote.engineMinor = 0;
    remote.engineBuild = 3;
    EXPECT_EQ(kNewerEngines, CompareVersions(remote, DefsDate{1, 1, 2001}, installed));
    EXPECT_EQ(kNewerDefs | kNewerEngines, CompareVersions(remote, DefsDate{6, 21, 2000}, installed));
    remote.engineMinor = 0x80000000u;
    remote.engineBuild = 0;
    EXPECT_EQ(kNewerEngines, CompareVersions(remote, DefsDate{1, 1, 2001}, installed)) << "compared unsigned";
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, DefsDate{1, 1, 2001}, EngineVersion{4, 0, 0}));
    remote.defs = "ERROR";
    EXPECT_EQ(std::nullopt, CompareVersions(remote, DefsDate{1, 1, 2001}, installed));
    EXPECT_EQ(std::nullopt, CompareVersions(remote, std::nullopt, installed)) << "no date on either side";
}

TEST(VersionFile, LengthAndPercentage) {
    EXPECT_EQ(1234u, ParseContentLength(" 1234\r\n"));
    EXPECT_EQ(std::nullopt, ParseContentLength(""));
    EXPECT_EQ(std::nullopt, ParseContentLength("12x"));
    EXPECT_EQ(std::nullopt, ParseContentLength("4294967296"));
    EXPECT_EQ(std::nullopt, ProgressPercent(10, 0, 0));
    EXPECT_EQ(42, ProgressPercent(42, 0, 100));
    EXPECT_EQ(100, ProgressPercent(100, 0, 100));
    EXPECT_EQ(50, ProgressPercent(150, 0, 100)) << "past the end wraps";
    EXPECT_EQ(75, ProgressPercent(3000000000u, 0, 4000000000u));
}

}  // namespace

// The version file and the decisions taken from it, on bytes a server might send.
#include "update_version_file.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane;

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
    EXPECT_EQ("12 31 65535", split("12/31/99999999999")) << "a huge year stays the latest";
    EXPECT_EQ("none", split("<Unknown>"));
    EXPECT_EQ("none", split("6/21"));
    EXPECT_EQ("none", split("ERROR"));
}

TEST(VersionFile, ComparisonTakesYearThenMonthThenDayAndEngineUnsigned) {
    VersionFile remote;
    remote.defs = "1/1/2001";
    const EngineVersion installed{3, 0, 2};
    EXPECT_EQ(kNewerDefs, CompareVersions(remote, {12, 31, 2000}, installed)) << "later year, earlier month";
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, {1, 1, 2001}, installed));
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, {1, 2, 2001}, installed));
    remote.engineMajor = 3;
    remote.engineMinor = 0;
    remote.engineBuild = 3;
    EXPECT_EQ(kNewerEngines, CompareVersions(remote, {1, 1, 2001}, installed));
    EXPECT_EQ(kNewerDefs | kNewerEngines, CompareVersions(remote, {6, 21, 2000}, installed));
    remote.engineMinor = 0x80000000u;
    remote.engineBuild = 0;
    EXPECT_EQ(kNewerEngines, CompareVersions(remote, {1, 1, 2001}, installed)) << "compared unsigned";
    EXPECT_EQ(kNothingNewer, CompareVersions(remote, {1, 1, 2001}, EngineVersion{4, 0, 0}));
    remote.defs = "ERROR";
    EXPECT_EQ(std::nullopt, CompareVersions(remote, {1, 1, 2001}, installed));
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

// The detectors' formats and rules on bytes: the quarantine file, the server
// configuration block, the PE section table, the INI token rule, the family table and the
// file-in-use message.
#include "detectors/back_orifice_config.h"
#include "detectors/create_detector.h"
#include "detectors/family_detectors.h"
#include "detectors/ini_autostart.h"
#include "detectors/plugins_section.h"
#include "detectors/quarantine_file.h"
#include "detectors/trojan_detector.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> SpecimenHead(const std::string& name) {
    auto bytes = ReadBytes(ModuleDirectory() + "\\specimens\\" + name);
    if (bytes.size() > 4096) bytes.resize(4096);
    return bytes;
}

BackOrificeConfig Parse(const std::vector<std::uint8_t>& block) {
    return ParseBackOrificeConfig(block.data(), block.size());
}

}  // namespace

TEST(QuarantineFile, HeaderHoldsThePathThenZerosAndContentIsXoredWith5B) {
    QuarantineHeader header = MakeQuarantineHeader("C:\\WINDOWS\\SYSTEM\\Patch.exe");
    std::string path(header.originalPath);
    EXPECT_EQ("C:\\WINDOWS\\SYSTEM\\Patch.exe", path);
    for (std::size_t i = path.size(); i < sizeof header.originalPath; ++i)
        ASSERT_EQ(0, header.originalPath[i]) << "byte " << i;

    std::vector<std::uint8_t> content = {0x00, 0x5B, 0xFF, 'M', 'Z'};
    ScrambleQuarantineBytes(content.data(), content.size());
    EXPECT_EQ((std::vector<std::uint8_t>{0x5B, 0x00, 0xA4, 'M' ^ 0x5B, 'Z' ^ 0x5B}), content);
}

TEST(QuarantineFile, OverlongPathKeepsItsTerminatingZero) {
    QuarantineHeader header = MakeQuarantineHeader(std::string(300, 'x'));
    EXPECT_EQ(259u, std::strlen(header.originalPath));
}

TEST(QuarantineFile, ParsingGivesBackPathAndOriginalBytes) {
    std::vector<std::uint8_t> original = {'M', 'Z', 0, 1, 2, 0x5B, 0xA4};
    QuarantineHeader header = MakeQuarantineHeader("C:\\trojan.exe");
    std::vector<std::uint8_t> file(reinterpret_cast<std::uint8_t*>(&header),
                                   reinterpret_cast<std::uint8_t*>(&header) + sizeof header);
    std::vector<std::uint8_t> scrambled = original;
    ScrambleQuarantineBytes(scrambled.data(), scrambled.size());
    file.insert(file.end(), scrambled.begin(), scrambled.end());

    QuarantinedFile parsed;
    ASSERT_TRUE(ParseQuarantineFile(file.data(), file.size(), parsed));
    EXPECT_EQ("C:\\trojan.exe", parsed.originalPath);
    EXPECT_EQ(original, parsed.content);

    EXPECT_FALSE(ParseQuarantineFile(file.data(), 259, parsed)) << "shorter than the header";
    std::vector<std::uint8_t> unterminated(260, 'A');
    EXPECT_FALSE(ParseQuarantineFile(unterminated.data(), unterminated.size(), parsed));
}

TEST(QuarantineFile, NamesKeepTheExtensionAndSpaceNamesBecomeBackOrifice) {
    EXPECT_EQ("Patch.exe.KWR", QuarantineFileName("Patch.exe"));
    EXPECT_EQ("BACKORIFICE.KWR", QuarantineFileName(" .exe"));
    EXPECT_EQ("BACKORIFICE.KWR", QuarantineFileName(" anything"));
    std::string fits = "C:\\" + std::string(257, 'a');
    EXPECT_EQ(fits, FitQuarantinePath(fits));
    std::string tooLong = fits + "b";
    EXPECT_EQ(tooLong.substr(0, 130) + ".KWR", FitQuarantinePath(tooLong));
}

TEST(BackOrificeBlock, LargeServersKeepItAt124888AndSmallOnesAt77436) {
    auto span = BackOrificeBlockLocation(200000);
    EXPECT_EQ(124888u, span.offset);
    EXPECT_EQ(100u, span.length);
    span = BackOrificeBlockLocation(124888 + 40);
    EXPECT_EQ(124888u, span.offset);
    EXPECT_EQ(40u, span.length) << "a file ending inside the block gives what it has";
    EXPECT_EQ(0u, BackOrificeBlockLocation(119000).length) << "large, but ends before the block";
    span = BackOrificeBlockLocation(118999);
    EXPECT_EQ(77436u, span.offset);
    EXPECT_EQ(100u, span.length);
    EXPECT_EQ(64u, BackOrificeBlockLocation(77500).length);
    EXPECT_EQ(0u, BackOrificeBlockLocation(77436).length);
    EXPECT_EQ(0u, BackOrificeBlockLocation(60000).length);
}

TEST(BackOrificeBlock, EmptyOrZeroBlockMeansBuiltInSettings) {
    EXPECT_TRUE(Parse({}).builtInSettings);
    BackOrificeConfig zeros = Parse(std::vector<std::uint8_t>(100, 0));
    EXPECT_TRUE(zeros.builtInSettings);
    EXPECT_EQ("", zeros.installName);
}

TEST(BackOrificeBlock, NameThenFourBytesThenValueAfterLeadingZeros) {
    auto block = Bytes(std::string("\0\0\0tvbo.exe\0\x39\x05\0\0MyValue\0junk", 27));
    BackOrificeConfig config = Parse(block);
    EXPECT_FALSE(config.builtInSettings);
    EXPECT_EQ("tvbo.exe", config.installName);
    EXPECT_EQ("MyValue", config.registryEntry);

    config = Parse(Bytes(std::string("C:\\x.exe\0\1\2\3\4\0rest", 19)));
    EXPECT_EQ("C:\\x.exe", config.installName);
    EXPECT_EQ("C:\\x.exe", config.registryEntry) << "an empty value name falls back to the install name";
}

TEST(BackOrificeBlock, UnconfiguredMarkYieldsNothingAndTextStopsAtTheBlockEnd) {
    BackOrificeConfig config = Parse(Bytes(std::string("\0\0\1\2\3\4name\0abcdvalue\0", 22)));
    EXPECT_FALSE(config.builtInSettings);
    EXPECT_EQ("", config.installName);
    EXPECT_EQ("", config.registryEntry);

    config = Parse(Bytes("unterminatedname"));
    EXPECT_EQ("unterminatedname", config.installName);
    EXPECT_EQ("unterminatedname", config.registryEntry) << "nothing left after the name";

    config = Parse(Bytes(std::string("n\0\1\2\3\4val", 10)));
    EXPECT_EQ("val", config.registryEntry) << "value cut by the end of the block";
    config = Parse(Bytes(std::string("\1\2\3", 3)));
    EXPECT_EQ("\1\2\3", config.installName) << "three bytes are no mark";
}

TEST(PluginsSection, FoundInTheSectionTableOfTheSpecimensThatCarryIt) {
    for (const char* name : {"setupdm_plugins.exe", "unlisted_plugins.exe", "setupdm_plain.exe", "bo2k.exe"}) {
        SCOPED_TRACE(name);
        auto head = SpecimenHead(name);
        ASSERT_GE(head.size(), 1024u);
        std::size_t extent = PeHeaderExtent(head.data(), head.size());
        ASSERT_GT(extent, 248u);
        ASSERT_LE(extent, head.size());
        auto layout = ReadPeLayout(head.data(), extent);
        ASSERT_TRUE(layout);
        EXPECT_EQ(std::strstr(name, "plugins") != nullptr, HasPluginsSection(*layout));
    }
}

TEST(PluginsSection, ExtentAsksForMoreBytesUntilTheTableAndRejectsNonImages) {
    auto head = SpecimenHead("setupdm_plugins.exe");
    EXPECT_EQ(64u, PeHeaderExtent(head.data(), 10));
    std::size_t fileHeaderEnd = PeHeaderExtent(head.data(), 64);
    EXPECT_GT(fileHeaderEnd, 64u);
    EXPECT_EQ(PeHeaderExtent(head.data(), head.size()), PeHeaderExtent(head.data(), fileHeaderEnd));

    auto text = Bytes(std::string(600, 'A'));
    EXPECT_EQ(0u, PeHeaderExtent(text.data(), text.size()));
    auto farAway = head;
    std::uint32_t offset = 0x7FFFFFF0;
    std::memcpy(farAway.data() + 0x3C, &offset, sizeof offset);
    EXPECT_EQ(0u, PeHeaderExtent(farAway.data(), farAway.size())) << "headers past any sane size";
}

TEST(IniTokens, FileNameTokensGoInAnyCaseAndWithTrailingCharacters) {
    std::string out = "untouched";
    EXPECT_TRUE(StripFileTokens("Explorer.exe trojan.exe", "trojan.exe", out));
    EXPECT_EQ("Explorer.exe ", out);
    EXPECT_TRUE(StripFileTokens("trojan.exe", "trojan.exe", out));
    EXPECT_EQ("", out);
    EXPECT_TRUE(StripFileTokens("a.exe   TROJAN.EXE,x  b.exe", "trojan.exe", out));
    EXPECT_EQ("a.exe b.exe ", out);
}

TEST(IniTokens, PathsAbsentKeysAndEmptyNamesChangeNothing) {
    std::string out = "untouched";
    EXPECT_FALSE(StripFileTokens("C:\\WINDOWS\\trojan.exe", "trojan.exe", out));
    EXPECT_FALSE(StripFileTokens("trojan.ex", "trojan.exe", out)) << "shorter than the name";
    EXPECT_FALSE(StripFileTokens("-NONE-", "-NONE-", out));
    EXPECT_FALSE(StripFileTokens("", "trojan.exe", out));
    EXPECT_FALSE(StripFileTokens("Explorer.exe", "", out)) << "a path ending in a backslash";
    EXPECT_EQ("untouched", out);

    TrojanDetector detector("C:\\WINDOWS\\trojan.exe", 0xFFFFFFFF, 0);
    EXPECT_TRUE(detector.StripFileTokens("load trojan.exe", out));
    EXPECT_EQ("load ", out) << "the detector strips its own file name";
}

TEST(DetectorPlan, SizeFloorsPluginsTestAndBo2kStandIns) {
    using C = DetectorPlan::Condition;
    struct Row { DWORD type; C condition; DWORD size; int detector; };
    const Row rows[] = {
        {0, C::MinimumSize, 60000, 0},     {1, C::MinimumSize, 350000, 1},  {2, C::PluginsSection, 0, 9},
        {3, C::PluginsSection, 0, 9},      {4, C::MinimumSize, 100000, 4},  {5, C::PluginsSection, 0, 9},
        {6, C::None, 0, 6},                {7, C::None, 0, 7},              {8, C::None, 0, 8},
        {9, C::None, 0, 9},                {10, C::None, 0, 10},            {11, C::None, 0, 11},
        {12, C::PluginsSection, 0, 9},     {0xFFFFFFFF, C::PluginsSection, 0, 9},
    };
    for (const Row& row : rows) {
        DetectorPlan plan = PlanDetector(row.type);
        EXPECT_EQ(row.condition, plan.condition) << "type " << row.type;
        if (row.condition == C::MinimumSize) {
            EXPECT_EQ(row.size, plan.minimumSize) << "type " << row.type;
        }
        EXPECT_EQ(row.detector, plan.detectorType) << "type " << row.type;
    }
}

TEST(DetectorNames, TypeRecordsStripAtTheSeparatorAndIndexThreeHasNone) {
    // DeepThroat's detector looks nothing up, so it can carry any type index here.
    DeepThroatDetector sockets("C:\\s.exe", 0xFFFFFFFF, 3);
    EXPECT_EQ("Sockets d'Troy", sockets.GetTypeName(false));
    EXPECT_EQ("Sockets d'Troy", sockets.GetTypeName(true));
    DeepThroatDetector bo("C:\\b.exe", 0xFFFFFFFF, 0);
    EXPECT_EQ("Back Orifice**KWR**", bo.GetTypeName(false));
    EXPECT_EQ("Back Orifice", bo.GetTypeName(true));
    TrojanDetector plain("C:\\b.exe", 0xFFFFFFFF, 0);
    EXPECT_EQ("", plain.GetTypeName(false)) << "the base class names no family";
    EXPECT_EQ("", plain.GetTypeName(true));
    std::string entry = "untouched";
    EXPECT_TRUE(plain.GetRegistryEntry(entry));
    EXPECT_EQ("untouched", entry);
}

TEST(FileInUse, MessageNamesTheShortPathForDel) {
    EXPECT_EQ(
        "An infection was detected but the file is in use by the operating system. Tolvane will "
        "remove the registry entry to prevent the trojan from restarting, but you will need to "
        "reboot your system to disable this trojan. After rebooting, please go to the DOS prompt "
        "and type\n'del C:\\PROGRA~1\\BO2K~1.EXE'.\nThis will ensure the trojan is deleted.",
        FileInUseMessage("C:\\PROGRA~1\\BO2K~1.EXE"));
}

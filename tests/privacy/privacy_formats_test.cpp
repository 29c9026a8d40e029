// psigs.kws as the privacy engine reads it, including truncated and hostile files, and
// the fingerprint check of executables, on files in a scratch folder.
#include "engine_codes.h"
#include "privacy_checks.h"
#include "privacy_signatures.h"
#include "privacy_test_support.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::uint32_t kZeroFingerprint = 0x0283B97A;  // 500 zero bytes

std::vector<std::string> Names(const RegistrySignatureList& records) {
    std::vector<std::string> names;
    for (const auto& r : records) names.emplace_back(r.name);
    return names;
}

std::vector<std::uint8_t> RecordBytes(const std::vector<RegistrySignature>& records) {
    std::vector<std::uint8_t> bytes;
    for (const auto& r : records) {
        auto raw = reinterpret_cast<const std::uint8_t*>(&r);
        bytes.insert(bytes.end(), raw, raw + sizeof r);
    }
    return bytes;
}

bool AllTerminated(const RegistrySignatureList& records) {
    for (const auto& r : records)
        if (!std::memchr(r.name, 0, sizeof r.name) || !std::memchr(r.keyPath, 0, sizeof r.keyPath))
            return false;
    return true;
}

class PrivacyFile : public ::testing::Test {
protected:
    DWORD Load(const std::vector<std::uint8_t>& bytes) {
        EXPECT_TRUE(WriteBytes(path(), bytes));
        return LoadPrivacySignatures(path().c_str(), signatures_);
    }
    std::string path() const { return dir_ / "psigs.kws"; }

    TempDir dir_;
    PrivacySignatures signatures_;
};

}  // namespace

TEST(RegistrySignatureRecords, AreKeptNewestFirstAndOnlyWholeOnesCount) {
    auto bytes = RecordBytes({RegistryRecord("First", kCurrentUser, "Software\\A"),
                              RegistryRecord("Second", kLocalMachine, "SOFTWARE\\B"),
                              RegistryRecord("Third", 0x80000000u, "CLSID")});
    bytes.resize(bytes.size() - 1);  // the third loses its last byte
    RegistrySignatureList records;
    EXPECT_EQ(2u, ParseRegistrySignatures(bytes.data(), bytes.size(), records));
    ASSERT_EQ((std::vector<std::string>{"Second", "First"}), Names(records));
    EXPECT_EQ(kLocalMachine, records.front().rootKey);
    EXPECT_STREQ("SOFTWARE\\B", records.front().keyPath);
}

TEST(RegistrySignatureRecords, UnterminatedTextsAndForeignRootsAreSkipped) {
    RegistrySignature longName = RegistryRecord("", kCurrentUser, "Software\\A");
    std::memset(longName.name, 'N', sizeof longName.name);
    RegistrySignature longPath = RegistryRecord("Long path", kCurrentUser, "");
    std::memset(longPath.keyPath, 'P', sizeof longPath.keyPath);
    auto bytes = RecordBytes({longName, longPath,
                              RegistryRecord("Handle value", 0x00000044u, "Software"),
                              RegistryRecord("Counters", 0x80000004u, "Software"),
                              RegistryRecord("Past the roots", 0x80000007u, "Software"),
                              RegistryRecord("Users", 0x80000003u, ".DEFAULT"),
                              RegistryRecord("Config", 0x80000005u, "System"),
                              RegistryRecord("Name of 67", kCurrentUser, "Software")});
    std::memset(reinterpret_cast<RegistrySignature*>(bytes.data() + 7 * 336)->name, 'x', 67);
    RegistrySignatureList records;
    EXPECT_EQ(8u, ParseRegistrySignatures(bytes.data(), bytes.size(), records));
    EXPECT_EQ((std::vector<std::string>{std::string(67, 'x'), "Config", "Users"}), Names(records));
}

TEST(RegistrySignatureRecords, RandomBytesNeverYieldAnUnterminatedRecord) {
    std::mt19937 random(4242);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> bytes(random() % 2000);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : random());
        // Give some records a plausible root so the other checks are reached.
        for (std::size_t at = 68; at + 4 <= bytes.size(); at += 336)
            if (random() % 2) std::memcpy(&bytes[at], &kCurrentUser, 4);
        RegistrySignatureList records;
        ASSERT_EQ(bytes.size() / 336, ParseRegistrySignatures(bytes.data(), bytes.size(), records));
        ASSERT_TRUE(AllTerminated(records)) << "round " << round;
    }
}

TEST_F(PrivacyFile, GoodFileFillsTheIndexAndTheRecordList) {
    EXPECT_EQ(kCodeSuccess, Load(PrivacyFileBytes({{0, 0x11111111}, {3, 0x22222222}},
                                                  {RegistryRecord("A", kCurrentUser, "Software\\A"),
                                                   RegistryRecord("B", kLocalMachine, "SOFTWARE\\B")})));
    EXPECT_EQ(0u, signatures_.crcIndex.Lookup(0x11111111));
    EXPECT_EQ(3u, signatures_.crcIndex.Lookup(0x22222222));
    EXPECT_EQ((std::vector<std::string>{"B", "A"}), Names(signatures_.registryRecords));
}

TEST_F(PrivacyFile, MissingForeignAndHeaderlessFilesGiveTheirCodes) {
    EXPECT_EQ(kCodeSignatureMissing, LoadPrivacySignatures((dir_ / "absent.kws").c_str(), signatures_));
    auto bytes = PrivacyFileBytes({{0, 1}}, {RegistryRecord("A", kCurrentUser, "Software")});
    bytes[3] = 'X';
    EXPECT_EQ(kCodeSignatureMagic, Load(bytes));
    EXPECT_TRUE(signatures_.crcIndex.Empty());
    EXPECT_TRUE(signatures_.registryRecords.empty());
    EXPECT_EQ(kCodeSignatureRead, Load(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 23)));
    EXPECT_EQ(kCodeSignatureRead, Load({}));
}

TEST_F(PrivacyFile, CountsLargerThanTheFileKeepWholeRecordsAndReportTheShortRead) {
    auto bytes = PrivacyFileBytes({{0, 0x11111111}, {0, 0x22222222}}, {});
    reinterpret_cast<SignatureFileHeader*>(bytes.data())->entryCount = 60000;
    bytes.resize(bytes.size() - 3);
    EXPECT_EQ(kCodeSignatureRead, Load(bytes));
    EXPECT_EQ(1u, signatures_.crcIndex.Size());
    EXPECT_TRUE(signatures_.registryRecords.empty());

    signatures_.Clear();
    bytes = PrivacyFileBytes({{0, 0x11111111}}, {RegistryRecord("A", kCurrentUser, "Software\\A"),
                                                 RegistryRecord("B", kCurrentUser, "Software\\B")});
    reinterpret_cast<SignatureFileHeader*>(bytes.data())->registryRecordCount = 65535;
    EXPECT_EQ(kCodeSignatureRead, Load(bytes));
    EXPECT_EQ((std::vector<std::string>{"B", "A"}), Names(signatures_.registryRecords));

    signatures_.Clear();
    bytes.resize(bytes.size() - 100);  // B cut inside its key path
    EXPECT_EQ(kCodeSignatureRead, Load(bytes));
    EXPECT_EQ((std::vector<std::string>{"A"}), Names(signatures_.registryRecords));
}

TEST_F(PrivacyFile, BytesAfterTheAnnouncedRecordsAreNotRead) {
    auto bytes = PrivacyFileBytes({}, {RegistryRecord("A", kCurrentUser, "Software\\A"),
                                       RegistryRecord("B", kCurrentUser, "Software\\B")});
    reinterpret_cast<SignatureFileHeader*>(bytes.data())->registryRecordCount = 1;
    EXPECT_EQ(kCodeSuccess, Load(bytes));
    EXPECT_EQ((std::vector<std::string>{"A"}), Names(signatures_.registryRecords));
}

TEST_F(PrivacyFile, RandomAndHostileFilesGiveACodeAndOnlySoundRecords) {
    std::mt19937 random(1999);
    for (int round = 0; round < 150; ++round) {
        std::vector<std::uint8_t> bytes(random() % 3000);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
        if (bytes.size() >= 8 && random() % 4 != 0) {
            std::memcpy(bytes.data(), kSignatureMagic, 4);
            bytes[5] = static_cast<std::uint8_t>(random() % 2 ? 0 : bytes[5]);  // small and huge N
        }
        signatures_.Clear();
        DWORD code = Load(bytes);
        ASSERT_TRUE(code == kCodeSuccess || code == kCodeSignatureRead || code == kCodeSignatureMagic)
            << "round " << round << " code " << code;
        ASSERT_TRUE(AllTerminated(signatures_.registryRecords)) << "round " << round;
    }
}

TEST(MonitorFindingName, StripsTheSeparatorOnlyWhenAsked) {
    MonitorFinding finding("C:\\tool.exe");
    EXPECT_EQ("WinWhatWhere Investigator", finding.GetTypeName(true));
    EXPECT_EQ("WinWhatWhere Investigator**KWR**", finding.GetTypeName(false));
    EXPECT_EQ(0, finding.TypeIndex());
    EXPECT_EQ("C:\\tool.exe", finding.FilePath());
}

class ProcessCheck : public ::testing::Test {
protected:
    std::string File(const std::string& name, std::size_t zeroBytes, char first = 0) {
        std::vector<std::uint8_t> bytes(zeroBytes, 0);
        if (!bytes.empty()) bytes[0] = static_cast<std::uint8_t>(first);
        EXPECT_TRUE(WriteBytes(dir_ / name, bytes));
        return dir_ / name;
    }
    DWORD Check(std::vector<std::string> paths) {
        DWORD status = CheckProcessPaths(paths, index_, finding_);
        EXPECT_TRUE(paths.empty()) << paths.size() << " paths left";
        return status;
    }

    TempDir dir_;
    SignatureTable index_;
    std::unique_ptr<MonitorFinding> finding_;
};

TEST_F(ProcessCheck, FirstExecutableListedWithTypeZeroBecomesTheOnlyFinding) {
    index_.Insert({0, kZeroFingerprint});
    std::string first = File("first.exe", 600);
    std::string second = File("second.exe", 500);
    EXPECT_EQ(kCodeSuccess, Check({File("other.exe", 600, 'M'), first, second}));
    ASSERT_TRUE(finding_);
    EXPECT_EQ(first, finding_->FilePath());
    MonitorFinding* held = finding_.get();
    EXPECT_EQ(kCodeSuccess, Check({second}));
    EXPECT_EQ(held, finding_.get()) << "a later match adds nothing";
}

TEST_F(ProcessCheck, OtherTypesAndShortFilesAreNotMatched) {
    index_.Insert({4, kZeroFingerprint});
    EXPECT_EQ(kCodeSuccess, Check({File("typed.exe", 500)}));
    EXPECT_FALSE(finding_);
    index_.Clear();
    index_.Insert({0, kZeroFingerprint});
    EXPECT_EQ(kCodeSuccess, Check({File("short.exe", 499), File("empty.exe", 0)}));
    EXPECT_FALSE(finding_);
}

TEST_F(ProcessCheck, OnlyAnUnopenableLastExecutableFailsTheCheck) {
    index_.Insert({0, kZeroFingerprint});
    std::string missing = dir_ / "gone.exe";
    EXPECT_EQ(kCodeSuccess, Check({missing, File("after.exe", 500)}));
    EXPECT_TRUE(finding_) << "paths after an unopenable one are still checked";
    EXPECT_EQ(kCodeUnspecified, Check({File("before.exe", 500), missing}));
    EXPECT_EQ(kCodeSuccess, Check({}));
}

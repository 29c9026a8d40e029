#include "engine_codes.h"
#include "signature_loader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <random>

using namespace tolvane;
using tolvane::test::SignatureFileBytes;
using tolvane::test::TempDir;
using tolvane::test::WriteBytes;

namespace {

DWORD LoadFrom(const std::string& path, SignatureFileHeader& header, SignatureTable& table) {
    unique_file file = OpenSignatureFile(path.c_str());
    if (!file) return kCodeSignatureMissing;
    return ReadSignatureEntries(file.get(), header, table);
}

}  // namespace

TEST(SignatureLoader, LoadsEveryEntryOfAGoodFile) {
    TempDir dir;
    std::vector<SignatureEntry> entries;
    for (std::uint32_t i = 0; i < 10000; ++i) entries.push_back({i % 12, i * 2654435761u});
    ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", SignatureFileBytes(entries, 6, 21, 2000)));
    SignatureFileHeader header{};
    SignatureTable table;
    EXPECT_EQ(kCodeSuccess, LoadFrom(dir / "tsigs.kws", header, table));
    EXPECT_EQ(10000u, table.Size());
    EXPECT_EQ(21, header.day);
    for (const auto& e : entries) ASSERT_EQ(e.typeIndex, table.Lookup(e.fingerprint));
}

TEST(SignatureLoader, EmptyEntryListLoads) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", SignatureFileBytes({})));
    SignatureFileHeader header{};
    SignatureTable table;
    EXPECT_EQ(kCodeSuccess, LoadFrom(dir / "tsigs.kws", header, table));
    EXPECT_EQ(0xFFFFFFFFu, table.Lookup(0));
}

TEST(SignatureLoader, EachBadMagicByteFailsTheSelfCheck) {
    TempDir dir;
    for (int i = 0; i < 4; ++i) {
        auto bytes = SignatureFileBytes({{1, 0x1234}});
        bytes[i] ^= 0x20;
        ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", bytes));
        SignatureFileHeader header{};
        SignatureTable table;
        EXPECT_EQ(kCodeSignatureMagic, LoadFrom(dir / "tsigs.kws", header, table)) << "byte " << i;
        EXPECT_TRUE(table.Empty());
    }
}

TEST(SignatureLoader, ShortFileKeepsWholeEntriesAndReportsReadFailure) {
    TempDir dir;
    auto bytes = SignatureFileBytes({{1, 0x10}, {2, 0x20}, {3, 0x30}});
    bytes.resize(bytes.size() - 5);  // the last entry is cut in half
    ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", bytes));
    SignatureFileHeader header{};
    SignatureTable table;
    EXPECT_EQ(kCodeSignatureRead, LoadFrom(dir / "tsigs.kws", header, table));
    EXPECT_EQ(2u, table.Size());
    EXPECT_EQ(2u, table.Lookup(0x20));
    EXPECT_EQ(0xFFFFFFFFu, table.Lookup(0x30));

    for (std::size_t size : {0u, 1u, 23u}) {
        bytes.resize(size);
        ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", bytes));
        SignatureTable empty;
        EXPECT_EQ(kCodeSignatureRead, LoadFrom(dir / "tsigs.kws", header, empty)) << size;
        EXPECT_TRUE(empty.Empty());
    }
}

TEST(SignatureLoader, MissingFileIsReportedAsMissing) {
    TempDir dir;
    SignatureFileHeader header{};
    SignatureTable table;
    EXPECT_EQ(kCodeSignatureMissing, LoadFrom(dir / "nothing.kws", header, table));
}

TEST(SignatureLoader, RandomAndHostileFilesGiveOneOfTheThreeCodes) {
    TempDir dir;
    std::mt19937 rng(2000);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes;
        if (round % 3 == 0) {
            bytes.resize(rng() % 200);
            for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        } else {
            // A valid start whose count promises more than the file holds, or flipped bytes.
            std::vector<SignatureEntry> entries(rng() % 40);
            for (auto& e : entries) e = {rng(), rng()};
            bytes = SignatureFileBytes(entries);
            bytes[4] = static_cast<std::uint8_t>(rng());
            bytes[5] = static_cast<std::uint8_t>(rng());
            if (round % 3 == 2 && bytes.size() > 30) bytes[rng() % bytes.size()] ^= 0xFF;
            bytes.resize(rng() % (bytes.size() + 1));
        }
        ASSERT_TRUE(WriteBytes(dir / "tsigs.kws", bytes));
        SignatureFileHeader header{};
        SignatureTable table;
        DWORD code = LoadFrom(dir / "tsigs.kws", header, table);
        ASSERT_TRUE(code == kCodeSuccess || code == kCodeSignatureRead || code == kCodeSignatureMagic)
            << "round " << round << " code " << code;
        ASSERT_LE(table.Size(), header.entryCount);
    }
}

TEST(SignatureLoader, ReadsWhatTheMaintainerToolWrites) {
    SignatureFileHeader header{};
    SignatureTable table;
    ASSERT_EQ(kCodeSuccess, LoadFrom(tolvane::test::ModuleDirectory() + "\\fixtures\\manifest_sigs.kws",
                                     header, table));
    EXPECT_EQ(3, header.entryCount);
    EXPECT_EQ(1, header.registryRecordCount);
    EXPECT_EQ(6, header.month);
    EXPECT_EQ(21, header.day);
    EXPECT_EQ(2000, header.year);
    EXPECT_EQ(1u, table.Lookup(0x80000000u)) << "first of two equal fingerprints";
    EXPECT_EQ(2u, table.Lookup(0x0283B97Au)) << "fingerprint of the 500 zero bytes";
}

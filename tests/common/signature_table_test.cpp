#include "signature_file.h"
#include "signature_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using tolvane::SignatureEntry;
using tolvane::SignatureTable;

TEST(SignatureTable, EmptyTableFindsNothing) {
    SignatureTable table;
    EXPECT_EQ(0xFFFFFFFFu, table.Lookup(0));
    EXPECT_EQ(0xFFFFFFFFu, table.Lookup(0xCBF43926u));
}

TEST(SignatureTable, FirstInsertedOfEqualFingerprintsWins) {
    SignatureTable table;
    table.Insert({1, 0x1234});
    table.Insert({4, 0x1234});
    EXPECT_EQ(1u, table.Lookup(0x1234));

    // Also when they arrive in one batch, and when a later batch repeats them.
    SignatureTable batched;
    std::vector<SignatureEntry> entries{{7, 0x50}, {1, 0x1234}, {4, 0x1234}, {2, 0x10}};
    batched.Insert(entries.data(), entries.size());
    std::vector<SignatureEntry> again{{9, 0x1234}, {3, 0x50}};
    batched.Insert(again.data(), again.size());
    EXPECT_EQ(1u, batched.Lookup(0x1234));
    EXPECT_EQ(7u, batched.Lookup(0x50));
    EXPECT_EQ(2u, batched.Lookup(0x10));
    EXPECT_EQ(0xFFFFFFFFu, batched.Lookup(0x11));
}

TEST(SignatureTable, OrdersFingerprintsUnsigned) {
    SignatureTable table;
    std::vector<SignatureEntry> entries{{2, 0x80000000u}, {3, 0x7FFFFFFFu}, {5, 0xFFFFFFFFu}, {6, 0}};
    table.Insert(entries.data(), entries.size());
    EXPECT_EQ(2u, table.Lookup(0x80000000u));
    EXPECT_EQ(3u, table.Lookup(0x7FFFFFFFu));
    EXPECT_EQ(5u, table.Lookup(0xFFFFFFFFu));
    EXPECT_EQ(6u, table.Lookup(0));
}

TEST(SignatureTable, AgreesWithALinearSearchOnRandomData) {
    std::mt19937 rng(12345);
    std::vector<SignatureEntry> all;
    SignatureTable table;
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<SignatureEntry> entries(rng() % 300);
        for (auto& e : entries) e = {static_cast<std::uint32_t>(rng() % 12), static_cast<std::uint32_t>(rng() % 500)};
        table.Insert(entries.data(), entries.size());
        all.insert(all.end(), entries.begin(), entries.end());
    }
    for (std::uint32_t fp = 0; fp < 520; ++fp) {
        std::uint32_t expected = 0xFFFFFFFFu;
        for (const auto& e : all)
            if (e.fingerprint == fp) { expected = e.typeIndex; break; }
        ASSERT_EQ(expected, table.Lookup(fp)) << "fingerprint " << fp;
    }
    table.Clear();
    EXPECT_TRUE(table.Empty());
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(0xFFFFFFFFu, table.Lookup(all.front().fingerprint));
}

TEST(DefsDate, FormatsWithoutLeadingZeros) {
    tolvane::SignatureFileHeader header{};
    header.month = 6;
    header.day = 21;
    header.year = 2000;
    char text[12];
    std::memset(text, 'x', sizeof text);
    tolvane::FormatDefsDate(header, text);
    EXPECT_STREQ("6/21/2000", text);
    EXPECT_EQ(0, text[11]);
}

TEST(DefsDate, OversizedFieldsAreCutToTheBuffer) {
    struct Guarded {
        char text[12];
        char guard[8];
    } g;
    std::memset(&g, 'G', sizeof g);
    tolvane::SignatureFileHeader header{};
    header.month = 65535;
    header.day = 65535;
    header.year = 65535;
    tolvane::FormatDefsDate(header, g.text);
    EXPECT_STREQ("65535/65535", g.text);
    for (char c : g.guard) EXPECT_EQ('G', c);
}

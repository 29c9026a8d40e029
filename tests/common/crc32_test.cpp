#include "crc32.h"

#include <gtest/gtest.h>

#include <vector>

using tolvane::Crc32;

TEST(Crc32, MatchesTheStandardCheckValue) {
    EXPECT_EQ(0xCBF43926u, Crc32("123456789", 9));
}

TEST(Crc32, FingerprintOfFiveHundredZeroBytes) {
    std::vector<unsigned char> zeros(tolvane::kFingerprintBytes, 0);
    EXPECT_EQ(0x0283B97Au, Crc32(zeros.data(), zeros.size()));
}

TEST(Crc32, RunningCrcEqualsOneShot) {
    const char text[] = "The quick brown fox jumps over the lazy dog";
    std::uint32_t running = Crc32(text, 10);
    running = Crc32(text + 10, sizeof text - 1 - 10, running);
    EXPECT_EQ(Crc32(text, sizeof text - 1), running);
    EXPECT_EQ(0x414FA339u, running);
}

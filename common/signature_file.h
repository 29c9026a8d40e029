// Layout of the signature files (tsigs.kws, psigs.kws): a 24-byte header, then
// N 8-byte entries of type index and fingerprint; the privacy file adds records after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

#pragma pack(push, 1)
struct SignatureFileHeader {
    char magic[4];                  // "KWRT"
    std::uint16_t entryCount;
    std::uint16_t registryRecordCount;  // only the privacy engine's file has them
    std::uint32_t reserved1;
    std::uint16_t month;
    std::uint16_t day;
    std::uint16_t year;
    std::uint8_t reserved2[6];
};

struct SignatureEntry {
    std::uint32_t typeIndex;
    std::uint32_t fingerprint;
};
#pragma pack(pop)

static_assert(sizeof(SignatureFileHeader) == 24, "signature header is 24 bytes on disk");
static_assert(sizeof(SignatureEntry) == 8, "signature entry is 8 bytes on disk");

constexpr char kSignatureMagic[4] = {'K', 'W', 'R', 'T'};

bool HasSignatureMagic(const SignatureFileHeader& header);

// "month/day/year" without leading zeros, as the 12-byte registry value holds it:
// the text is cut to 11 characters so it always fits with its terminating zero.
constexpr std::size_t kDefsDateValueBytes = 12;
void FormatDefsDate(const SignatureFileHeader& header, char (&out)[kDefsDateValueBytes]);

}  // namespace tolvane

// The trojan signature file tsigs.kws, read as the scan engine reads it: the header, then
// the fingerprint entries it announces, into the lookup table. Read once in one piece and
// once in pieces of a few bytes; both must give what the file says.
#include "engine_codes.h"
#include "memory_file.h"
#include "signature_loader.h"

#include "fuzz_check.h"

#include <cstring>
#include <unordered_map>
#include <vector>

using namespace tolvane;

namespace {

struct Loaded {
    DWORD code;
    SignatureFileHeader header;
    SignatureTable table;
    std::size_t position;
};

void Load(const std::uint8_t* data, std::size_t size, std::size_t chunk, Loaded& out) {
    fuzz::MemoryFile file(data, size, chunk);
    out.header = {};
    out.code = ReadSignatureEntries(file.Handle(), out.header, out.table);
    out.position = file.Position();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Loaded whole, pieces;
    Load(data, size, 0, whole);
    Load(data, size, 1 + size % 7, pieces);
    FUZZ_REQUIRE(whole.code == pieces.code && whole.table.Size() == pieces.table.Size());

    const std::size_t headerBytes = sizeof(SignatureFileHeader);
    if (size < headerBytes) {
        FUZZ_REQUIRE(whole.code == kCodeSignatureRead && whole.table.Empty());
        return 0;
    }
    if (std::memcmp(data, "KWRT", 4) != 0) {
        FUZZ_REQUIRE(whole.code == kCodeSignatureMagic && whole.table.Empty());
        return 0;
    }
    // The entries the file holds: as many as announced, or the whole ones before its end.
    const std::size_t announced = whole.header.entryCount;
    const std::size_t present = std::min(announced, (size - headerBytes) / sizeof(SignatureEntry));
    FUZZ_REQUIRE(whole.code == (present == announced ? kCodeSuccess : kCodeSignatureRead));
    FUZZ_REQUIRE(whole.table.Size() == present);
    if (whole.code == kCodeSuccess) FUZZ_REQUIRE(whole.position == headerBytes + present * sizeof(SignatureEntry));

    std::vector<SignatureEntry> entries(present);
    if (present) std::memcpy(entries.data(), data + headerBytes, present * sizeof(SignatureEntry));
    // The first entry of a fingerprint in file order wins.
    std::unordered_map<std::uint32_t, std::uint32_t> first;
    for (const auto& e : entries) first.emplace(e.fingerprint, e.typeIndex);
    for (const auto& [fingerprint, type] : first) {
        FUZZ_REQUIRE(whole.table.Lookup(fingerprint) == type);
        FUZZ_REQUIRE(pieces.table.Lookup(fingerprint) == type);
        if (!first.count(fingerprint + 1)) FUZZ_REQUIRE(whole.table.Lookup(fingerprint + 1) == SignatureTable::kNotFound);
    }
    // A second file adds behind the first: the first's entries still win.
    whole.table.Insert(entries.data(), entries.size());
    FUZZ_REQUIRE(whole.table.Size() == 2 * present);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        FUZZ_REQUIRE(whole.table.Lookup(it->fingerprint) == first[it->fingerprint]);

    char date[kDefsDateValueBytes];
    std::memset(date, 'x', sizeof date);
    FormatDefsDate(whole.header, date);
    FUZZ_REQUIRE(std::memchr(date, 0, sizeof date) != nullptr);
    return 0;
}

// The privacy signature file psigs.kws, read as the privacy engine reads it: the signature
// header and entries, then the registry records. Every record kept is usable and the same
// 336 bytes the file holds, newest first.
#include "engine_codes.h"
#include "memory_file.h"
#include "privacy_signatures.h"

#include "fuzz_check.h"

#include <cstring>
#include <vector>

using namespace tolvane;

namespace {

bool Usable(const RegistrySignature& r) {
    return std::memchr(r.name, 0, sizeof r.name) && std::memchr(r.keyPath, 0, sizeof r.keyPath) &&
           RegistryRoot(r.rootKey) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PrivacySignatures signatures;
    fuzz::MemoryFile file(data, size, 1 + size % 13);
    DWORD code = ReadPrivacySignatures(file.Handle(), signatures);

    const std::size_t headerBytes = sizeof(SignatureFileHeader);
    if (size < headerBytes || std::memcmp(data, "KWRT", 4) != 0) {
        FUZZ_REQUIRE(code != kCodeSuccess && signatures.registryRecords.empty() && signatures.crcIndex.Empty());
        return 0;
    }
    SignatureFileHeader header;
    std::memcpy(&header, data, sizeof header);
    const std::size_t entriesEnd = headerBytes + header.entryCount * sizeof(SignatureEntry);
    if (size < entriesEnd) {
        FUZZ_REQUIRE(code == kCodeSignatureRead && signatures.registryRecords.empty());
        return 0;
    }
    const std::size_t announced = header.registryRecordCount;
    const std::size_t present = std::min(announced, (size - entriesEnd) / sizeof(RegistrySignature));
    FUZZ_REQUIRE(code == (present == announced ? kCodeSuccess : kCodeSignatureRead));

    // The usable records of the file, last one first.
    std::vector<RegistrySignature> expected;
    for (std::size_t i = present; i-- > 0;) {
        RegistrySignature record;
        std::memcpy(&record, data + entriesEnd + i * sizeof record, sizeof record);
        if (Usable(record)) expected.push_back(record);
    }
    FUZZ_REQUIRE(signatures.registryRecords.size() == expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const RegistrySignature& kept = signatures.registryRecords[i];
        FUZZ_REQUIRE(std::memcmp(&kept, &expected[i], sizeof kept) == 0);
        FUZZ_REQUIRE(std::strlen(kept.name) < sizeof kept.name && std::strlen(kept.keyPath) < sizeof kept.keyPath);
    }
    return 0;
}

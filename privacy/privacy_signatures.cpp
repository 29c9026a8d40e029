#include "privacy_signatures.h"

#include "engine_codes.h"
#include "signature_loader.h"

#include <new>
#include <vector>

namespace tolvane {
namespace {

DWORD ReadRegistrySignatures(HANDLE file, std::size_t count, RegistrySignatureList& records) {
    std::vector<std::uint8_t> bytes;
    try {
        // At most 65535 records, 22 MB: a count the file cannot back only costs a read.
        bytes.resize(count * sizeof(RegistrySignature));
    } catch (const std::bad_alloc&) {
        return kCodeNoMemory;
    }
    DWORD got = 0;
    const bool ok = ReadFully(file, bytes.data(), static_cast<DWORD>(bytes.size()), got);
    const std::size_t whole = ParseRegistrySignatures(bytes.data(), got, records);
    return ok && whole == count ? kCodeSuccess : kCodeSignatureRead;
}

}  // namespace

#ifdef _WIN32
DWORD LoadPrivacySignatures(const char* path, PrivacySignatures& signatures) {
    unique_file file = OpenSignatureFile(path);
    if (!file) return kCodeSignatureMissing;
    return ReadPrivacySignatures(file.get(), signatures);
}
#endif

DWORD ReadPrivacySignatures(HANDLE file, PrivacySignatures& signatures) {
    SignatureFileHeader header{};
    DWORD code = ReadSignatureEntries(file, header, signatures.crcIndex);
    if (code != kCodeSuccess) return code;
    return ReadRegistrySignatures(file, header.registryRecordCount, signatures.registryRecords);
}

}  // namespace tolvane

#include "signature_loader.h"

#include "engine_codes.h"

#include <algorithm>
#include <vector>

namespace tolvane {

#ifdef _WIN32
unique_file OpenSignatureFile(const char* path) {
    return unique_file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}
#endif

bool ReadFully(HANDLE file, void* buffer, DWORD size, DWORD& got) {
    got = 0;
    auto out = static_cast<char*>(buffer);
    while (got < size) {
        DWORD n = 0;
        if (!::ReadFile(file, out + got, size - got, &n, nullptr)) return false;
        if (n == 0) break;
        got += n;
    }
    return true;
}

DWORD ReadSignatureEntries(HANDLE file, SignatureFileHeader& header, SignatureTable& table) {
    DWORD got = 0;
    if (!ReadFully(file, &header, sizeof header, got) || got != sizeof header)
        return kCodeSignatureRead;
    if (!HasSignatureMagic(header)) return kCodeSignatureMagic;

    // The entries arrive in 32 KiB reads and go into the table as one batch, sorted once.
    constexpr DWORD kBlockBytes = 4096 * sizeof(SignatureEntry);
    std::vector<SignatureEntry> entries(header.entryCount);
    const DWORD total = header.entryCount * sizeof(SignatureEntry);
    auto bytes = reinterpret_cast<char*>(entries.data());
    DWORD done = 0;
    bool ok = true;
    while (ok && done < total) {
        const DWORD want = std::min(total - done, kBlockBytes);
        ok = ReadFully(file, bytes + done, want, got) && got == want;
        done += got;
    }
    // Whole entries before a short or failed read stay, as they would have one by one.
    table.Insert(entries.data(), done / sizeof(SignatureEntry));
    if (!ok) return kCodeSignatureRead;
    return kCodeSuccess;
}

}  // namespace tolvane

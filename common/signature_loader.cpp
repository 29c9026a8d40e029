#include "signature_loader.h"

#include "engine_codes.h"

#include <algorithm>
#include <vector>

namespace tolvane {

unique_file OpenSignatureFile(const char* path) {
    return unique_file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

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

    // 4096 entries (32 KiB) a read: a full 65535-entry file is 16 calls.
    constexpr DWORD kBlockEntries = 4096;
    std::vector<SignatureEntry> block(std::min<DWORD>(kBlockEntries, header.entryCount));
    DWORD remaining = header.entryCount;
    while (remaining > 0) {
        const DWORD want = std::min(remaining, kBlockEntries);
        const DWORD bytes = want * sizeof(SignatureEntry);
        const bool ok = ReadFully(file, block.data(), bytes, got);
        // Whole entries before a short or failed read stay, as they would have one by one.
        table.Insert(block.data(), got / sizeof(SignatureEntry));
        if (!ok || got != bytes) return kCodeSignatureRead;
        remaining -= want;
    }
    return kCodeSuccess;
}

}  // namespace tolvane

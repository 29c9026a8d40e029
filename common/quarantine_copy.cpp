#include "quarantine_copy.h"

#include "quarantine_format.h"

#include <cstdint>

namespace tolvane {

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

DWORD WriteAll(HANDLE file, const void* data, DWORD size, const BlockWriter& writer) {
    DWORD written = 0;
    ::SetLastError(ERROR_SUCCESS);
    bool wrote = writer ? writer(file, data, size, written) : ::WriteFile(file, data, size, &written, nullptr) != FALSE;
    if (!wrote) return LastErrorOr(ERROR_WRITE_FAULT);
    // A short write without an error is what a full disk looks like on some systems.
    return written == size ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD CopyScrambledBlocks(HANDLE in, HANDLE out, const BlockReader& reader, const BlockWriter& writer) {
    std::uint8_t block[4096];
    for (;;) {
        DWORD got = 0;
        ::SetLastError(ERROR_SUCCESS);
        bool read = reader ? reader(in, block, sizeof block, got)
                           : ::ReadFile(in, block, sizeof block, &got, nullptr) != FALSE;
        if (!read) return LastErrorOr(ERROR_READ_FAULT);
        if (got == 0) return ERROR_SUCCESS;
        ScrambleQuarantineBytes(block, got);
        if (DWORD error = WriteAll(out, block, got, writer)) return error;
    }
}

DWORD FinishCopy(unique_file& out, const std::string& path, DWORD error) {
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(out.get())) error = LastErrorOr(ERROR_WRITE_FAULT);
    if (!::CloseHandle(out.release()) && error == ERROR_SUCCESS) error = LastErrorOr(ERROR_WRITE_FAULT);
    // Half a copy is worth nothing and would hide that the other file is still needed.
    if (error != ERROR_SUCCESS) ::DeleteFileA(path.c_str());
    return error;
}

}  // namespace tolvane

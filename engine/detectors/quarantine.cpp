#include "quarantine.h"

#include "quarantine_file.h"
#include "unique_handle.h"

#include <cstdint>

namespace tolvane {
namespace {

constexpr DWORD kBlockBytes = 4096;

DWORD LastErrorOr(DWORD fallback) {
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

DWORD WriteAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    if (!::WriteFile(file, data, size, &written, nullptr)) return LastErrorOr(ERROR_WRITE_FAULT);
    // A short write without an error is what a full disk looks like on some systems.
    return written == size ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD CopyScrambled(HANDLE in, HANDLE out, const std::string& source, const BlockReader& reader) {
    QuarantineHeader header = MakeQuarantineHeader(source);
    if (DWORD error = WriteAll(out, &header, sizeof header)) return error;
    std::uint8_t block[kBlockBytes];
    for (;;) {
        DWORD got = 0;
        ::SetLastError(ERROR_SUCCESS);
        bool read = reader ? reader(in, block, sizeof block, got)
                           : ::ReadFile(in, block, sizeof block, &got, nullptr) != FALSE;
        if (!read) return LastErrorOr(ERROR_READ_FAULT);
        if (got == 0) return ERROR_SUCCESS;
        ScrambleQuarantineBytes(block, got);
        if (DWORD error = WriteAll(out, block, got)) return error;
    }
}

}  // namespace

DWORD QuarantineCopyFile(const std::string& source, const std::string& destination,
                         const BlockReader& reader) {
    std::string target = FitQuarantinePath(destination);
    unique_file in(::CreateFileA(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in) return LastErrorOr(ERROR_OPEN_FAILED);
    unique_file out(::CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return LastErrorOr(ERROR_OPEN_FAILED);

    DWORD error = CopyScrambled(in.get(), out.get(), source, reader);
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(out.get())) error = LastErrorOr(ERROR_WRITE_FAULT);
    if (!::CloseHandle(out.release()) && error == ERROR_SUCCESS) error = LastErrorOr(ERROR_WRITE_FAULT);
    if (error != ERROR_SUCCESS) {
        // Half a copy is no evidence; the trojan's file stays where it was.
        ::DeleteFileA(target.c_str());
        return error;
    }
    in.reset();
    if (!::DeleteFileA(source.c_str())) return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

}  // namespace tolvane

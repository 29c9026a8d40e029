#include "quarantine.h"

#include "quarantine_file.h"
#include "quarantine_copy.h"
#include "unique_handle.h"

namespace tolvane {
namespace {

DWORD CopyScrambled(HANDLE in, HANDLE out, const std::string& source, const BlockReader& reader) {
    QuarantineHeader header = MakeQuarantineHeader(source);
    if (DWORD error = WriteAll(out, &header, sizeof header)) return error;
    return CopyScrambledBlocks(in, out, reader);
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

    DWORD error = FinishCopy(out, target, CopyScrambled(in.get(), out.get(), source, reader));
    if (error != ERROR_SUCCESS) return error;  // the trojan's file stays where it was
    in.reset();
    if (!::DeleteFileA(source.c_str())) return LastErrorOr(ERROR_ACCESS_DENIED);
    return ERROR_SUCCESS;
}

}  // namespace tolvane

// Copying between a file and its quarantine form, shared by the engine that quarantines
// and the program that restores: both must leave the file they read untouched whenever
// the file they write is not complete on disk.
#pragma once

#include "unique_handle.h"

#include <windows.h>

#include <functional>
#include <string>

namespace tolvane {

// Stand-ins for ReadFile and WriteFile, for tests: false on a failure, a read of 0 bytes
// at the end of the file.
using BlockReader = std::function<bool(HANDLE file, void* buffer, DWORD size, DWORD& bytesRead)>;
using BlockWriter = std::function<bool(HANDLE file, const void* data, DWORD size, DWORD& bytesWritten)>;

// The thread's last error, or `fallback` when a failing call left none.
DWORD LastErrorOr(DWORD fallback);

// ERROR_SUCCESS once every byte is written; a short write is taken for a full disk.
DWORD WriteAll(HANDLE file, const void* data, DWORD size, const BlockWriter& writer = nullptr);

// Copies `in` from its position to its end into `out`, every byte combined with the
// quarantine key on the way (which scrambles and unscrambles alike). Returns ERROR_SUCCESS
// or the error of the first failed read or write.
DWORD CopyScrambledBlocks(HANDLE in, HANDLE out, const BlockReader& reader = nullptr,
                          const BlockWriter& writer = nullptr);

// Flushes and closes the written file `out` at `path`; when `error` or the flush or close
// failed, deletes it. Returns the first error, or ERROR_SUCCESS.
DWORD FinishCopy(unique_file& out, const std::string& path, DWORD error);

}  // namespace tolvane

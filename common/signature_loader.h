// Reading a signature file's header and fingerprint entries into a table.
#pragma once

#include "signature_file.h"
#include "signature_table.h"
#include "win32_subset.h"

#ifdef _WIN32
#include "unique_handle.h"
#endif

namespace tolvane {

#ifdef _WIN32
// Opens for reading, others may read too; only an existing file.
unique_file OpenSignatureFile(const char* path);
#endif

// Reads the header, checks the magic and inserts the entries it announces, leaving the
// file just past them. Returns kCodeSuccess, kCodeSignatureRead (a read failed or came
// up short; the whole entries read before it stay in the table) or kCodeSignatureMagic
// (nothing inserted; header holds what was read).
DWORD ReadSignatureEntries(HANDLE file, SignatureFileHeader& header, SignatureTable& table);

// ReadFile until `size` bytes arrived or the file ended; false on a failed call.
bool ReadFully(HANDLE file, void* buffer, DWORD size, DWORD& got);

}  // namespace tolvane

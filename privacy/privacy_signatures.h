// What the privacy engine knows from psigs.kws: the fingerprints of running tools and
// the registry keys that betray installed ones.
#pragma once

#include "registry_signature.h"
#include "signature_table.h"
#include "win32_subset.h"

namespace tolvane {

struct PrivacySignatures {
    SignatureTable crcIndex;
    RegistrySignatureList registryRecords;  // newest first

    void Clear() {
        crcIndex.Clear();
        registryRecords.clear();
    }
};

// Reads psigs.kws into `signatures`, adding to what they hold. Returns kCodeSuccess,
// kCodeSignatureMissing (cannot be opened), kCodeSignatureMagic (not a signature file),
// kCodeSignatureRead (shorter than its header announces; whole records before the end
// are kept) or kCodeNoMemory.
DWORD LoadPrivacySignatures(const char* path, PrivacySignatures& signatures);

// The same from an open file, from wherever its position is.
DWORD ReadPrivacySignatures(HANDLE file, PrivacySignatures& signatures);

}  // namespace tolvane

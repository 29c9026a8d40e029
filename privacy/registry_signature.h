// The registry records of psigs.kws: after the header and the fingerprint entries come
// M records of 336 bytes, each naming a monitoring tool by a key it creates.
#pragma once

#include "win32_subset.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace tolvane {

#pragma pack(push, 1)
struct RegistrySignature {
    char name[68];           // the tool's name, reported as it stands
    std::uint32_t rootKey;   // value of a predefined root: 0x80000001 for HKEY_CURRENT_USER, ...
    char keyPath[260];       // key under that root
    std::uint32_t reserved;
};
#pragma pack(pop)

static_assert(sizeof(RegistrySignature) == 336, "registry record is 336 bytes on disk");

// Newest first: each record read is put at the head, so a file's last record leads.
using RegistrySignatureList = std::deque<RegistrySignature>;

// Reads the whole records in `bytes` and puts every usable one at the head of `records`.
// A record whose name or key path lacks its terminating zero, or whose root is not a
// registry tree, is skipped: probing it could only report nonsense or, with a root
// value that is not predefined, hand an arbitrary handle value to the registry.
// Returns how many whole records `bytes` held, usable or not.
std::size_t ParseRegistrySignatures(const std::uint8_t* bytes, std::size_t size,
                                    RegistrySignatureList& records);

// The predefined root a record names, or nullptr for any other value.
HKEY RegistryRoot(std::uint32_t rootKey);

}  // namespace tolvane

// Fingerprint -> trojan type index.
//
// Lookups answer as a search tree keyed on the unsigned fingerprint would, with equal
// keys kept in insertion order: the first entry inserted with a fingerprint wins, an
// absent one gives -1. The entries live in one sorted array instead of a node per
// entry, so a file written in ascending order loads as fast as a shuffled one and
// costs 8 bytes an entry.
#pragma once

#include "signature_file.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane {

class SignatureTable {
public:
    static constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;

    void Insert(const SignatureEntry& entry) { Insert(&entry, 1); }
    // Entries of one batch keep their order among themselves and come after every
    // entry inserted earlier.
    void Insert(const SignatureEntry* entries, std::size_t count);
    std::uint32_t Lookup(std::uint32_t fingerprint) const;
    void Clear();

    std::size_t Size() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }

private:
    std::vector<SignatureEntry> entries_;  // sorted by fingerprint, stable
};

}  // namespace tolvane

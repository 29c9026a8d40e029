#include "signature_table.h"

#include <algorithm>

namespace tolvane {
namespace {
bool ByFingerprint(const SignatureEntry& a, const SignatureEntry& b) {
    return a.fingerprint < b.fingerprint;
}
}  // namespace

void SignatureTable::Insert(const SignatureEntry* entries, std::size_t count) {
    if (count == 0) return;
    const auto oldSize = static_cast<std::ptrdiff_t>(entries_.size());
    entries_.insert(entries_.end(), entries, entries + count);
    auto middle = entries_.begin() + oldSize;
    if (!std::is_sorted(middle, entries_.end(), ByFingerprint))
        std::stable_sort(middle, entries_.end(), ByFingerprint);
    if (oldSize > 0 && ByFingerprint(*middle, *(middle - 1)))
        std::inplace_merge(entries_.begin(), middle, entries_.end(), ByFingerprint);
}

std::uint32_t SignatureTable::Lookup(std::uint32_t fingerprint) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), SignatureEntry{0, fingerprint},
                               ByFingerprint);
    if (it == entries_.end() || it->fingerprint != fingerprint) return kNotFound;
    return it->typeIndex;
}

void SignatureTable::Clear() {
    entries_.clear();
    entries_.shrink_to_fit();
}

}  // namespace tolvane

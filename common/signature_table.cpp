#include "signature_table.h"

#include <algorithm>
#include <utility>

namespace tolvane {
namespace {
bool ByFingerprint(const SignatureEntry& a, const SignatureEntry& b) {
    return a.fingerprint < b.fingerprint;
}

// Stable LSD radix sort on the 32-bit fingerprint, three passes of 11 bits: linear in
// the entry count, so a shuffled file costs little more than reading it.
void RadixSortByFingerprint(SignatureEntry* first, SignatureEntry* last) {
    const std::size_t count = static_cast<std::size_t>(last - first);
    std::vector<SignatureEntry> scratch(count);
    SignatureEntry* from = first;
    SignatureEntry* to = scratch.data();
    for (int shift = 0; shift < 33; shift += 11) {
        std::size_t offsets[2048] = {};
        for (std::size_t i = 0; i < count; ++i) ++offsets[(from[i].fingerprint >> shift) & 2047];
        std::size_t sum = 0;
        for (auto& o : offsets) sum += std::exchange(o, sum);
        for (std::size_t i = 0; i < count; ++i) to[offsets[(from[i].fingerprint >> shift) & 2047]++] = from[i];
        std::swap(from, to);
    }
    // Three passes leave the result in the scratch buffer.
    std::copy(from, from + count, first);
}
}  // namespace

void SignatureTable::Insert(const SignatureEntry* entries, std::size_t count) {
    if (count == 0) return;
    const auto oldSize = static_cast<std::ptrdiff_t>(entries_.size());
    entries_.insert(entries_.end(), entries, entries + count);
    auto middle = entries_.begin() + oldSize;
    if (!std::is_sorted(middle, entries_.end(), ByFingerprint)) {
        if (count < 64)
            std::stable_sort(middle, entries_.end(), ByFingerprint);
        else
            RadixSortByFingerprint(&*middle, entries_.data() + entries_.size());
    }
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

// The fingerprint of a file: IEEE 802.3 CRC-32 (as zlib) over its first 500 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

constexpr std::size_t kFingerprintBytes = 500;

// Continues a running CRC; start with 0 for a fresh one.
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace tolvane

// The configuration block a Back Orifice server carries at a fixed place in its file:
// where the server installs itself and the RunServices value that starts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvane {

constexpr std::size_t kBackOrificeBlockBytes = 100;

struct BackOrificeBlockSpan {
    std::uint32_t offset;
    std::uint32_t length;  // what the file holds of the block, at most 100 bytes
};

// Large servers keep the block at 124888, small ones at 77436; a file that ends before
// the block holds none of it.
BackOrificeBlockSpan BackOrificeBlockLocation(std::uint32_t fileSize);

struct BackOrificeConfig {
    bool builtInSettings = false;  // no block or an all-zero block: nothing configured
    std::string installName;
    std::string registryEntry;
};

// Leading zeros, then the install name to a zero byte, four bytes, and the value name to a
// zero byte (the install name when it is empty). A block that starts 01 02 03 04 after its
// zeros was never configured and yields nothing. No text runs past the block.
BackOrificeConfig ParseBackOrificeConfig(const std::uint8_t* block, std::size_t size);

}  // namespace tolvane

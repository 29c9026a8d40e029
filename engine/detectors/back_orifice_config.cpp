#include "back_orifice_config.h"

#include <algorithm>

namespace tolvane {
namespace {

constexpr std::uint32_t kLargeServerSize = 119000;
constexpr std::uint32_t kLargeServerBlock = 124888;
constexpr std::uint32_t kSmallServerBlock = 77436;
constexpr std::size_t kSkippedAfterName = 4;
constexpr std::uint8_t kUnconfiguredMark[] = {1, 2, 3, 4};

// The text from `at` to the next zero byte or the end of the block; `at` moves to that end.
std::string TextAt(const std::uint8_t* block, std::size_t size, std::size_t& at) {
    std::size_t start = std::min(at, size);
    const std::uint8_t* end = std::find(block + start, block + size, 0);
    at = static_cast<std::size_t>(end - block);
    return std::string(block + start, end);
}

}  // namespace

BackOrificeBlockSpan BackOrificeBlockLocation(std::uint32_t fileSize) {
    std::uint32_t offset = fileSize >= kLargeServerSize ? kLargeServerBlock : kSmallServerBlock;
    std::uint32_t length = fileSize > offset ? fileSize - offset : 0;
    return {offset, std::min<std::uint32_t>(length, kBackOrificeBlockBytes)};
}

BackOrificeConfig ParseBackOrificeConfig(const std::uint8_t* block, std::size_t size) {
    BackOrificeConfig config;
    const std::uint8_t* first = std::find_if(block, block + size, [](std::uint8_t b) { return b != 0; });
    if (first == block + size) {
        config.builtInSettings = true;
        return config;
    }
    std::size_t at = static_cast<std::size_t>(first - block);
    if (size - at >= sizeof kUnconfiguredMark &&
        std::equal(kUnconfiguredMark, kUnconfiguredMark + sizeof kUnconfiguredMark, block + at))
        return config;
    config.installName = TextAt(block, size, at);
    at += 1 + kSkippedAfterName;
    config.registryEntry = TextAt(block, size, at);
    if (config.registryEntry.empty()) config.registryEntry = config.installName;
    return config;
}

}  // namespace tolvane

// The configuration block of a Back Orifice server: where it lies in a file of a given size,
// and the install name and RunServices value read from it. The first four input bytes are
// the file size; the rest is the block as the file holds it.
#include "back_orifice_config.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using tolvane::kBackOrificeBlockBytes;

namespace {

std::vector<std::uint8_t> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

bool IsInBlock(const std::string& text, const std::vector<std::uint8_t>& block) {
    if (text.empty()) return true;
    auto bytes = BytesOf(text);
    return std::search(block.begin(), block.end(), bytes.begin(), bytes.end()) != block.end();
}

void CheckLocation(std::uint32_t fileSize) {
    auto span = tolvane::BackOrificeBlockLocation(fileSize);
    FUZZ_REQUIRE(span.offset == 124888 || span.offset == 77436);
    FUZZ_REQUIRE(span.length <= kBackOrificeBlockBytes);
    // What the detector reads lies wholly inside the file.
    FUZZ_REQUIRE(span.length == 0 || std::uint64_t(span.offset) + span.length <= fileSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t fileSize;
    std::memcpy(&fileSize, data, 4);
    CheckLocation(fileSize);

    // An exact copy, so a read one past the block is an overflow the sanitizer sees.
    std::vector<std::uint8_t> block(data + 4, data + size);
    auto config = tolvane::ParseBackOrificeConfig(block.data(), block.size());

    bool allZero = std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
    FUZZ_REQUIRE(config.builtInSettings == allZero);
    if (config.builtInSettings) FUZZ_REQUIRE(config.installName.empty() && config.registryEntry.empty());
    for (const std::string* text : {&config.installName, &config.registryEntry}) {
        FUZZ_REQUIRE(text->size() <= block.size());
        FUZZ_REQUIRE(text->find('\0') == std::string::npos);
        FUZZ_REQUIRE(IsInBlock(*text, block));
    }
    if (!config.installName.empty()) {
        // The install name is the text right after the leading zeros.
        auto first = std::find_if(block.begin(), block.end(), [](std::uint8_t b) { return b != 0; });
        auto name = BytesOf(config.installName);
        FUZZ_REQUIRE(std::equal(name.begin(), name.end(), first));
        FUZZ_REQUIRE(!config.registryEntry.empty());
    }
    return 0;
}

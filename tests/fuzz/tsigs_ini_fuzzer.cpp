// The version file "tsigs.ini" from the update server, and the decisions taken from it.
#include "update/update_version_file.h"

#include "fuzz_check.h"

#include <cstring>
#include <string>
#include <string_view>

using namespace tolvane;

namespace {

// A number taken from the file is written in it.
bool Written(std::string_view text, std::uint32_t number) {
    return number == 0 || text.find(std::to_string(number)) != std::string_view::npos;
}

void CheckContentLength(std::string_view text) {
    auto length = ParseContentLength(text);
    if (!length) return;
    // What was read prints back as the digits that were there, less leading zeros.
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits += c;
    std::size_t first = digits.find_first_not_of('0');
    FUZZ_REQUIRE(std::to_string(*length) == (first == std::string::npos ? "0" : digits.substr(first)));
}

void CheckProgress(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return;
    std::uint32_t v[3];
    std::memcpy(v, data, sizeof v);
    std::uint32_t lower = std::min(v[0], v[2]), upper = std::max(v[0], v[2]);
    std::uint32_t position = std::min(std::max(v[1], lower), upper);
    auto percent = ProgressPercent(position, lower, upper);
    FUZZ_REQUIRE(percent.has_value() == (upper != 0 && upper > lower));
    if (percent) FUZZ_REQUIRE(*percent >= 0 && *percent <= 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    VersionFile file = ParseVersionFile(bytes);

    FUZZ_REQUIRE(file.defs.size() <= 259);
    FUZZ_REQUIRE(file.defs == "ERROR" || bytes.find(file.defs) != std::string_view::npos);
    FUZZ_REQUIRE(file.defs.find('\n') == std::string::npos);
    FUZZ_REQUIRE(Written(bytes, file.engineMajor) && Written(bytes, file.engineMinor) &&
                 Written(bytes, file.engineBuild));

    auto date = SplitDate(file.defs);
    auto need = CompareVersions(file, DefsDate{0, 0, 0}, EngineVersion{0, 0, 0});
    FUZZ_REQUIRE(need.has_value() == date.has_value());
    if (date) {
        FUZZ_REQUIRE(*need >= kNothingNewer && *need <= (kNewerDefs | kNewerEngines));
        // Nothing is newer than itself.
        auto same = CompareVersions(file, *date, RemoteEngineVersion(file));
        FUZZ_REQUIRE(same && *same == kNothingNewer);
        // And nothing is newer than the last possible date and engine.
        auto last = CompareVersions(file, DefsDate{0xFFFF, 0xFFFF, 0xFFFF}, EngineVersion{-1, -1, -1});
        FUZZ_REQUIRE(last && *last == kNothingNewer);
    }
    CheckContentLength(bytes.substr(0, 64));
    CheckProgress(data, size);
    return 0;
}

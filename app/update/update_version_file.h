// The version file "tsigs.ini" that the update server publishes, and the decisions an
// update run takes from it. No Win32 here: the server's bytes are untrusted, and these
// functions are tested on bytes.
#pragma once

#include "settings/app_settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// Section "files" of the version file, with the defaults of missing keys.
struct VersionFile {
    std::string defs = "ERROR";  // month/day/year, at most 259 characters kept
    std::uint32_t engineMajor = 0;
    std::uint32_t engineMinor = 0;
    std::uint32_t engineBuild = 0;
};

struct DefsDate {
    std::uint16_t month;
    std::uint16_t day;
    std::uint16_t year;
};

// What one run fetches: bit 1 the signature files, bit 2 the engine modules.
enum UpdateNeed : int { kNothingNewer = 0, kNewerDefs = 1, kNewerEngines = 2 };

// The value of `key` in `section` as GetPrivateProfileString reads it from a file of these
// bytes into a buffer of `bufferSize` characters: the first section and key of each name,
// blanks around names and values dropped, a value in matching quotes without them.
std::string ReadProfileString(std::string_view bytes, std::string_view section, std::string_view key,
                              std::string_view fallback, std::size_t bufferSize);

VersionFile ParseVersionFile(std::string_view bytes);

// "6/21/2000": three fields split at "/", each its leading decimal digits after blanks
// (none give 0); empty when there are fewer than three fields.
std::optional<DefsDate> SplitDate(std::string_view text);

// kNewerDefs and kNewerEngines as they apply; empty when the server's date does not split.
// With no local date (no definitions were ever loaded) the server's definitions are newer.
std::optional<int> CompareVersions(const VersionFile& remote, const std::optional<DefsDate>& localDate,
                                   const EngineVersion& localEngine);

EngineVersion RemoteEngineVersion(const VersionFile& remote);

// A Content-Length value; empty when it is not a decimal number that fits 32 bits.
std::optional<std::uint32_t> ParseContentLength(std::string_view text);

// The bar's percentage; empty when the upper bound is 0 (nothing to show yet).
std::optional<int> ProgressPercent(std::uint32_t position, std::uint32_t lower, std::uint32_t upper);

}  // namespace tolvane

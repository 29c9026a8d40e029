#include "update_version_file.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <tuple>
#include <vector>

namespace tolvane {

namespace {

// The profile functions read "defs" into a buffer of 260 bytes.
constexpr std::size_t kMaxDefs = 259;

std::string_view Trim(std::string_view text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Leading decimal digits; anything else (a sign, letters, nothing) stops the number. A
// value past `limit` reads as `fallback`, so no server text wraps around to look small.
template <typename T>
T LeadingNumber(std::string_view text, T fallback) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > std::numeric_limits<T>::max()) return fallback;
    }
    return static_cast<T>(value);
}

// The value of `key` in section "files": the first one wins, as with the profile functions.
std::optional<std::string_view> FindValue(std::string_view bytes, std::string_view key) {
    bool inFiles = false;
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = std::min(bytes.find('\n', at), bytes.size());
        std::string_view line = Trim(bytes.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            std::size_t close = line.find(']');
            inFiles = close != std::string_view::npos && SameName(Trim(line.substr(1, close - 1)), "files");
            continue;
        }
        std::size_t equals = line.find('=');
        if (inFiles && equals != std::string_view::npos && SameName(Trim(line.substr(0, equals)), key))
            return Trim(line.substr(equals + 1));
    }
    return std::nullopt;
}

std::uint32_t ReadNumber(std::string_view bytes, std::string_view key) {
    std::optional<std::string_view> value = FindValue(bytes, key);
    // Out of range reads as missing: no engine update on a number the server cannot mean.
    return value ? LeadingNumber<std::uint32_t>(*value, 0) : 0;
}

}  // namespace

VersionFile ParseVersionFile(std::string_view bytes) {
    VersionFile file;
    if (std::optional<std::string_view> defs = FindValue(bytes, "defs")) file.defs = defs->substr(0, kMaxDefs);
    file.engineMajor = ReadNumber(bytes, "ENGINE_VERSION_MAJ");
    file.engineMinor = ReadNumber(bytes, "ENGINE_VERSION_MIN");
    file.engineBuild = ReadNumber(bytes, "ENGINE_VERSION_BLD");
    return file;
}

std::optional<DefsDate> SplitDate(std::string_view text) {
    std::vector<std::uint16_t> fields;
    for (std::size_t at = 0; fields.size() < 3;) {
        std::size_t slash = text.find('/', at);
        // A field too large for 16 bits stays at the top, so a far-off year still compares later.
        fields.push_back(LeadingNumber<std::uint16_t>(text.substr(at, slash - at), 0xFFFF));
        if (slash == std::string_view::npos) break;
        at = slash + 1;
    }
    if (fields.size() < 3) return std::nullopt;
    return DefsDate{fields[0], fields[1], fields[2]};
}

EngineVersion RemoteEngineVersion(const VersionFile& remote) {
    return EngineVersion{static_cast<std::int32_t>(remote.engineMajor), static_cast<std::int32_t>(remote.engineMinor),
                         static_cast<std::int32_t>(remote.engineBuild)};
}

std::optional<int> CompareVersions(const VersionFile& remote, const DefsDate& local, const EngineVersion& localEngine) {
    std::optional<DefsDate> date = SplitDate(remote.defs);
    if (!date) return std::nullopt;
    auto dateKey = [](const DefsDate& d) { return std::make_tuple(d.year, d.month, d.day); };
    auto engineKey = [](const EngineVersion& v) {
        return std::make_tuple(static_cast<std::uint32_t>(v.major), static_cast<std::uint32_t>(v.minor),
                               static_cast<std::uint32_t>(v.build));
    };
    int need = kNothingNewer;
    if (dateKey(*date) > dateKey(local)) need |= kNewerDefs;
    if (engineKey(RemoteEngineVersion(remote)) > engineKey(localEngine)) need |= kNewerEngines;
    return need;
}

std::optional<std::uint32_t> ParseContentLength(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<int> ProgressPercent(std::uint32_t position, std::uint32_t lower, std::uint32_t upper) {
    if (upper == 0 || upper <= lower) return std::nullopt;
    // 64 bits: a module of more than 40 MB would overflow the product in 32.
    std::int64_t percent = (static_cast<std::int64_t>(position) - lower) * 100 / (static_cast<std::int64_t>(upper) - lower);
    return percent == 100 ? 100 : static_cast<int>(percent % 100);
}

}  // namespace tolvane

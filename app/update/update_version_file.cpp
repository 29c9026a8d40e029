#include "update_version_file.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <tuple>
#include <vector>

namespace tolvane {

namespace {

// The profile functions read "defs" into a buffer of 260 bytes.
constexpr std::size_t kDefsBuffer = 260;

// The profile functions' blanks: the C library's, and the end-of-file mark (Ctrl+Z) that
// old editors leave behind.
bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

bool IsCBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
    return text;
}

// Names and values end at a NUL, as the strings the profile functions compare and copy do.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The file as the profile functions decode it: a byte-order mark names the encoding,
// without one the bytes are ANSI. Only ASCII matters in the version file; other UTF-16
// characters become "?".
std::string ProfileText(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
    bool little = bytes.substr(0, 2) == "\xFF\xFE", big = bytes.substr(0, 2) == "\xFE\xFF";
    if (!little && !big) return std::string(bytes);
    std::string text;
    for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
        unsigned low = static_cast<unsigned char>(bytes[at + (big ? 1 : 0)]);
        unsigned high = static_cast<unsigned char>(bytes[at + (big ? 0 : 1)]);
        unsigned unit = high << 8 | low;
        text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return text;
}

// Calls `visit` with each line, trimmed, until it returns false. Lines end at "\n"; a
// part of the file with no "\n" left ends its lines at "\r".
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.find('\r', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = Trim(text.substr(at, end - at));
        at = end + 1;
        if (!line.empty() && !visit(line)) return;
    }
}

// The value of `key` in the first section named `section`; later sections of the same
// name and later keys of the same name are not read. A key line without "=" has no value.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section, std::string_view key) {
    enum { Before, Inside, After } state = Before;
    std::optional<std::string_view> value;
    ForEachLine(text, [&](std::string_view line) {
        std::size_t close = line.front() == '[' ? line.rfind(']') : std::string_view::npos;
        if (close != std::string_view::npos) {
            if (state == Inside) state = After;
            else if (state == Before && SameName(UpToNul(Trim(line.substr(1, close - 1))), section)) state = Inside;
            return state != After;
        }
        if (state != Inside) return true;
        std::size_t equals = line.find('=');
        if (!SameName(UpToNul(Trim(line.substr(0, equals))), key)) return true;
        if (equals != std::string_view::npos) value = UpToNul(Trim(line.substr(equals + 1)));
        return false;
    });
    return value;
}

// Leading decimal digits after the C library's leading blanks; anything else (a sign,
// letters, nothing) stops the number. A value past `limit` reads as `fallback`, so no
// server text wraps around to look small.
template <typename T>
T LeadingNumber(std::string_view text, T fallback) {
    while (!text.empty() && IsCBlank(text.front())) text.remove_prefix(1);
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > std::numeric_limits<T>::max()) return fallback;
    }
    return static_cast<T>(value);
}

std::uint32_t ReadNumber(std::string_view text, std::string_view key) {
    // Out of range reads as missing: no engine update on a number the server cannot mean.
    return LeadingNumber<std::uint32_t>(ReadProfileString(text, "files", key, "0", kDefsBuffer), 0);
}

}  // namespace

std::string ReadProfileString(std::string_view bytes, std::string_view section, std::string_view key,
                              std::string_view fallback, std::size_t bufferSize) {
    if (bufferSize == 0) return std::string();
    std::string text = ProfileText(bytes);
    std::string_view value = FindValue(text, section, key).value_or(fallback);
    // A value in matching quotes loses them; the closing one goes only when the value
    // fits the buffer whole, as with the platform's own copy.
    bool quoted = value.size() > 1 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted) value.remove_prefix(1);
    std::string copy(value.substr(0, bufferSize - 1));
    if (quoted && bufferSize >= value.size() && !copy.empty()) copy.pop_back();
    return copy;
}

VersionFile ParseVersionFile(std::string_view bytes) {
    VersionFile file;
    file.defs = ReadProfileString(bytes, "files", "defs", "ERROR", kDefsBuffer);
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

std::optional<int> CompareVersions(const VersionFile& remote, const std::optional<DefsDate>& local,
                                   const EngineVersion& localEngine) {
    std::optional<DefsDate> date = SplitDate(remote.defs);
    if (!date) return std::nullopt;
    auto dateKey = [](const DefsDate& d) { return std::make_tuple(d.year, d.month, d.day); };
    auto engineKey = [](const EngineVersion& v) {
        return std::make_tuple(static_cast<std::uint32_t>(v.major), static_cast<std::uint32_t>(v.minor),
                               static_cast<std::uint32_t>(v.build));
    };
    int need = kNothingNewer;
    if (!local || dateKey(*date) > dateKey(*local)) need |= kNewerDefs;
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

#include "quarantine_file.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

QuarantineHeader MakeQuarantineHeader(const std::string& originalPath) {
    QuarantineHeader header{};
    std::size_t length = std::min(originalPath.size(), sizeof header.originalPath - 1);
    std::memcpy(header.originalPath, originalPath.data(), length);
    return header;
}

void ScrambleQuarantineBytes(std::uint8_t* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] ^= kQuarantineKey;
}

bool ParseQuarantineFile(const std::uint8_t* bytes, std::size_t size, QuarantinedFile& out) {
    if (size < sizeof(QuarantineHeader)) return false;
    QuarantineHeader header;
    std::memcpy(&header, bytes, sizeof header);
    const void* end = std::memchr(header.originalPath, 0, sizeof header.originalPath);
    if (!end) return false;
    out.originalPath.assign(header.originalPath,
                            static_cast<std::size_t>(static_cast<const char*>(end) - header.originalPath));
    out.content.assign(bytes + sizeof header, bytes + size);
    ScrambleQuarantineBytes(out.content.data(), out.content.size());
    return true;
}

std::string QuarantineFileName(const std::string& fileName) {
    if (!fileName.empty() && fileName[0] == ' ') return "BACKORIFICE.KWR";
    return fileName + kQuarantineExtension;
}

std::string FitQuarantinePath(const std::string& destination) {
    constexpr std::size_t kLongestPath = 260;
    constexpr std::size_t kKeptChars = 130;
    if (destination.size() <= kLongestPath) return destination;
    return destination.substr(0, kKeptChars) + kQuarantineExtension;
}

}  // namespace tolvane

#include "quarantine_format.h"

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

bool ParseQuarantinePath(const std::uint8_t* bytes, std::size_t size, std::string& path) {
    size = std::min(size, sizeof(QuarantineHeader));
    const void* end = std::memchr(bytes, 0, size);
    if (!end) return false;
    path.assign(reinterpret_cast<const char*>(bytes),
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - bytes));
    return true;
}

bool ParseQuarantineFile(const std::uint8_t* bytes, std::size_t size, QuarantinedFile& out) {
    if (size < sizeof(QuarantineHeader) || !ParseQuarantinePath(bytes, size, out.originalPath)) return false;
    out.content.assign(bytes + sizeof(QuarantineHeader), bytes + size);
    ScrambleQuarantineBytes(out.content.data(), out.content.size());
    return true;
}

}  // namespace tolvane

// The quarantine file: a 260-byte header holding the path the file was found at, then
// the file's bytes scrambled so that no scanner or loader takes them for a program. The
// scan engine writes this layout and the program restores from it, so it never changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

#pragma pack(push, 1)
struct QuarantineHeader {
    char originalPath[260];  // ANSI, zero-terminated, zero bytes after
};
#pragma pack(pop)

static_assert(sizeof(QuarantineHeader) == 260, "the quarantine header is 260 bytes on disk");

constexpr std::uint8_t kQuarantineKey = 0x5B;
constexpr char kQuarantineExtension[] = ".KWR";

// A path longer than the field keeps its first 259 characters.
QuarantineHeader MakeQuarantineHeader(const std::string& originalPath);

// Scrambles in place; the same call unscrambles.
void ScrambleQuarantineBytes(std::uint8_t* bytes, std::size_t size);

// The former path in the first `size` bytes of a quarantine file (at most the header's
// 260); false when no zero ends it there, as in a cut or forged header.
bool ParseQuarantinePath(const std::uint8_t* bytes, std::size_t size, std::string& path);

struct QuarantinedFile {
    std::string originalPath;
    std::vector<std::uint8_t> content;  // unscrambled
};

// False when the bytes are shorter than the header or the path has no terminating zero.
bool ParseQuarantineFile(const std::uint8_t* bytes, std::size_t size, QuarantinedFile& out);

}  // namespace tolvane

// The quarantine file: a 260-byte header holding the path the file was found at, then
// the file's bytes scrambled so that no scanner or loader takes them for a program. The
// quarantine manager restores files from this layout, so it never changes.
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

struct QuarantinedFile {
    std::string originalPath;
    std::vector<std::uint8_t> content;  // unscrambled
};

// False when the bytes are shorter than the header or the path has no terminating zero.
bool ParseQuarantineFile(const std::uint8_t* bytes, std::size_t size, QuarantinedFile& out);

// Quarantine file name for a file name: a name that begins with a space (the Back Orifice
// server's own " .exe") becomes "BACKORIFICE.KWR", any other keeps its extension and gains
// ".KWR".
std::string QuarantineFileName(const std::string& fileName);

// A destination path too long for the system's 260-character buffers is cut to its first
// 130 characters and ".KWR".
std::string FitQuarantinePath(const std::string& destination);

}  // namespace tolvane

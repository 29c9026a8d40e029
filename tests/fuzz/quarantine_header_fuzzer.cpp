// The quarantine file: the engine writes it, the program reads its header to list and to
// restore. Whatever the bytes, a path accepted for restore is a full path without "." or
// ".." steps, and a file that parses writes back to the same header and content.
#include "maintenance/restore_path.h"
#include "quarantine_format.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using namespace tolvane;

namespace {

void CheckRestorable(const std::string& path) {
    if (!IsRestorablePath(path)) return;
    const bool drive = path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && path[2] == '\\';
    const bool share = path.size() > 2 && path[0] == '\\' && path[1] == '\\';
    FUZZ_REQUIRE(drive || share);
    // Windows splits at either slash; no step may be empty, "." or "..", and no colon may
    // open a stream or a second drive.
    std::size_t begin = drive ? 3 : 2;
    FUZZ_REQUIRE(path.find(':', begin) == std::string::npos);
    for (;;) {
        std::size_t end = std::min(path.find_first_of("\\/", begin), path.size());
        std::string step = path.substr(begin, end - begin);
        FUZZ_REQUIRE(!step.empty() && step != "." && step != "..");
        if (end == path.size()) break;
        begin = end + 1;
    }
    FUZZ_REQUIRE(std::none_of(path.begin(), path.end(), [](unsigned char c) { return c < 32; }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t headerBytes = sizeof(QuarantineHeader);
    const void* zero = std::memchr(data, 0, std::min(size, headerBytes));

    // The program reads the header alone, and a cut file gives what it holds.
    std::string path;
    bool named = ParseQuarantinePath(data, size, path);
    FUZZ_REQUIRE(named == (zero != nullptr));
    if (named) {
        FUZZ_REQUIRE(path.size() < headerBytes && path.size() < size);
        FUZZ_REQUIRE(std::memcmp(path.data(), data, path.size()) == 0 && data[path.size()] == 0);
        CheckRestorable(path);
    }

    QuarantinedFile file;
    bool parsed = ParseQuarantineFile(data, size, file);
    FUZZ_REQUIRE(parsed == (named && size >= headerBytes));
    if (!parsed) return 0;
    FUZZ_REQUIRE(file.originalPath == path);
    FUZZ_REQUIRE(file.content.size() == size - headerBytes);

    // Written back the way the engine writes: the same path, and the same bytes once scrambled.
    QuarantineHeader header = MakeQuarantineHeader(file.originalPath);
    std::string reread;
    FUZZ_REQUIRE(ParseQuarantinePath(reinterpret_cast<const std::uint8_t*>(&header), headerBytes, reread));
    FUZZ_REQUIRE(reread == file.originalPath);
    FUZZ_REQUIRE(std::all_of(header.originalPath + path.size(), header.originalPath + headerBytes,
                             [](char c) { return c == 0; }));
    std::vector<std::uint8_t> content = file.content;
    ScrambleQuarantineBytes(content.data(), content.size());
    FUZZ_REQUIRE(std::equal(content.begin(), content.end(), data + headerBytes));
    return 0;
}

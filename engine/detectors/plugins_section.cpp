#include "plugins_section.h"

#include <cstring>
#include <vector>

namespace tolvane {
namespace {

constexpr char kPluginsName[8] = {'.', 'p', 'l', 'u', 'g', 'i', 'n', 's'};
// No loader accepts headers this large; a file claiming them is no module.
constexpr std::uint64_t kLargestHeaders = 16u << 20;

bool ReadHead(HANDLE file, std::size_t size, std::vector<std::uint8_t>& bytes) {
    bytes.resize(size);
    if (::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
    DWORD got = 0, n = 0;
    while (got < size && ::ReadFile(file, bytes.data() + got, static_cast<DWORD>(size - got), &n, nullptr) && n > 0)
        got += n;
    return got == size;
}

}  // namespace

std::size_t PeHeaderExtent(const std::uint8_t* bytes, std::size_t size) {
    DosHeader dos;
    if (size < sizeof dos) return sizeof dos;
    std::memcpy(&dos, bytes, sizeof dos);
    if (dos.magic != kDosMagic) return 0;
    std::uint64_t fileHeaderAt = std::uint64_t(dos.ntHeaderOffset) + sizeof(std::uint32_t);
    std::uint64_t fileHeaderEnd = fileHeaderAt + sizeof(FileHeader);
    if (fileHeaderEnd > kLargestHeaders) return 0;
    if (size < fileHeaderEnd) return static_cast<std::size_t>(fileHeaderEnd);
    FileHeader header;
    std::memcpy(&header, bytes + fileHeaderAt, sizeof header);
    std::uint64_t end = fileHeaderEnd + header.sizeOfOptionalHeader +
                        std::uint64_t(header.numberOfSections) * sizeof(SectionHeader);
    return end > kLargestHeaders ? 0 : static_cast<std::size_t>(end);
}

bool HasPluginsSection(const PeLayout& layout) {
    for (const auto& section : layout.sections)
        if (std::memcmp(section.name, kPluginsName, sizeof kPluginsName) == 0) return true;
    return false;
}

bool FileHasPluginsSection(HANDLE file) {
    std::vector<std::uint8_t> bytes;
    std::size_t want = sizeof(DosHeader);
    // Each round learns the next header's place: DOS header, file header, section table.
    for (int round = 0; round < 3; ++round) {
        if (!ReadHead(file, want, bytes)) return false;
        std::size_t extent = PeHeaderExtent(bytes.data(), bytes.size());
        if (extent == 0) return false;
        if (extent <= bytes.size()) {
            auto layout = ReadPeLayout(bytes.data(), bytes.size());
            return layout && HasPluginsSection(*layout);
        }
        want = extent;
    }
    return false;
}

}  // namespace tolvane

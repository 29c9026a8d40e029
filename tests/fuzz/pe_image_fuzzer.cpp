// A module file as the private loader and the export repair read it: the headers, the
// sections copied into an image, the imports bound, the relocations applied and the
// export table searched. Nothing read may reach outside the file or the image.
#include "pe_format.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace tolvane;

namespace {

// Images larger than this are real enough for the loader, but the fuzzer learns nothing
// more from them than from small ones.
constexpr std::size_t kLargestImage = 1u << 20;

// Every name handed to the system lies in the image and ends inside it.
class CheckedImports final : public ImportResolver {
public:
    CheckedImports(const std::uint8_t* image, std::size_t size) : image_(image), size_(size) {}
    std::uintptr_t Module(const char* name) override {
        CheckName(name);
        return name[0] == 'X' ? 0 : 0x10000 + std::strlen(name);  // names starting with X are not found
    }
    std::uintptr_t Procedure(std::uintptr_t module, const char* name, std::uint16_t ordinal) override {
        FUZZ_REQUIRE(module >= 0x10000);
        if (name) CheckName(name);
        return name ? (name[0] == 'X' ? 0 : 0x20000) : (ordinal == 0xFFFF ? 0 : 0x30000u + ordinal);
    }

private:
    void CheckName(const char* name) const {
        auto at = reinterpret_cast<const std::uint8_t*>(name);
        FUZZ_REQUIRE(at >= image_ && at < image_ + size_);
        FUZZ_REQUIRE(std::memchr(at, 0, static_cast<std::size_t>(image_ + size_ - at)) != nullptr);
    }
    const std::uint8_t* image_;
    std::size_t size_;
};

void CheckLayout(const PeLayout& layout, const std::uint8_t* data, std::size_t size) {
    DosHeader dos;
    std::memcpy(&dos, data, sizeof dos);
    std::uint64_t end = std::uint64_t(dos.ntHeaderOffset) + 4 + sizeof(FileHeader) +
                        layout.file.sizeOfOptionalHeader + layout.sections.size() * sizeof(SectionHeader);
    FUZZ_REQUIRE(layout.sections.size() == layout.file.numberOfSections);
    FUZZ_REQUIRE(end <= size);
    for (std::uint32_t i = layout.optional.numberOfRvaAndSizes; i < 16; ++i)
        FUZZ_REQUIRE(layout.optional.dataDirectory[i].virtualAddress == 0 && layout.optional.dataDirectory[i].size == 0);
    for (const auto& section : layout.sections) {
        std::uint32_t p = SectionProtection(section.characteristics) & ~0x200u;
        FUZZ_REQUIRE(p == 0 || p == 0x02 || p == 0x04 || p == 0x08 || p == 0x10 || p == 0x20 || p == 0x40 || p == 0x80);
    }
}

// True when a relocation directory could hold a type 4 entry, whose rounding may change
// a value even when the image does not move.
bool MayHoldHighAdjust(const std::uint8_t* image, std::size_t size, const DataDirectory& dir) {
    if (!InBounds(size, dir.virtualAddress, dir.size)) return false;
    for (std::size_t i = 0; i + 1 < dir.size; ++i)
        if ((image[dir.virtualAddress + i] >> 4) == 4) return true;
    return false;
}

void CheckRelocations(std::vector<std::uint8_t>& image, const PeLayout& layout, std::uint32_t delta) {
    const DataDirectory& dir = layout.optional.dataDirectory[kRelocationDirectory];
    std::vector<std::uint8_t> before = image;
    bool applied = ApplyRelocations(image.data(), image.size(), dir.virtualAddress, dir.size, 0);
    if (applied && !MayHoldHighAdjust(image.data(), image.size(), dir)) FUZZ_REQUIRE(image == before);
    ApplyRelocations(image.data(), image.size(), dir.virtualAddress, dir.size, delta);
}

void CheckExports(const std::vector<std::uint8_t>& image) {
    static const char* const kNames[] = {"Process32First", "Process32Next", "Thread32First",
                                         "Module32Next",   "Greeting",      ""};
    for (const char* name : kNames) {
        auto slot = FindExportSlot(image.data(), image.size(), name);
        if (slot) FUZZ_REQUIRE(std::uint64_t(*slot) + 4 <= image.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The string reader alone, at every offset the first bytes name.
    if (size >= 4) {
        std::uint32_t offset;
        std::memcpy(&offset, data, 4);
        if (const char* s = StringAt(data, size, offset % (size + 1)))
            FUZZ_REQUIRE(reinterpret_cast<const std::uint8_t*>(s) + std::strlen(s) < data + size);
    }
    auto layout = ReadPeLayout(data, size);
    if (!layout) return 0;
    CheckLayout(*layout, data, size);

    std::size_t imageSize = layout->optional.sizeOfImage;
    if (imageSize == 0 || imageSize > kLargestImage) return 0;
    std::vector<std::uint8_t> image(imageSize);
    if (!CopySections(image.data(), image.size(), data, size, *layout)) return 0;
    FUZZ_REQUIRE(std::equal(data, data + layout->optional.sizeOfHeaders, image.begin()) ||
                 !layout->sections.empty());
    // The export repair reads the loaded module in place, before anything is bound.
    CheckExports(image);
    if (!HasAllDirectories(*layout)) return 0;
    CheckedImports imports(image.data(), image.size());
    if (!BindImports(image.data(), image.size(), layout->optional.dataDirectory[kImportDirectory], imports,
                     layout->IsPe32Plus()))
        return 0;
    CheckRelocations(image, *layout, 0x10000000u - layout->optional.imageBase);
    CheckExports(image);
    return 0;
}

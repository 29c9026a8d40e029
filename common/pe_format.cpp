#include "pe_format.h"

#include "win32_subset.h"  // PAGE_* values only

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ctime>

namespace tolvane {

namespace {

template <typename T>
bool ReadAt(const std::uint8_t* bytes, std::size_t size, std::uint64_t offset, T& out) {
    if (!InBounds(size, offset, sizeof(T))) return false;
    std::memcpy(&out, bytes + offset, sizeof(T));
    return true;
}

std::uint16_t Read16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Write16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, sizeof v); }

// Base relocation entry types: 0 pads a block, 1 to 4 are PE32's, 10 is PE32+'s.
constexpr unsigned kRelocationDir64 = 10;

bool ApplyBlock(std::uint8_t* image, std::size_t imageSize, std::uint32_t page,
                const std::uint8_t* entries, std::size_t count, std::uint64_t wideDelta) {
    const auto delta = static_cast<std::uint32_t>(wideDelta);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t entry = Read16(entries + 2 * i);
        unsigned type = entry >> 12;
        std::uint64_t target = std::uint64_t(page) + (entry & 0x0FFF);
        if (type == 0) continue;
        std::size_t width = type == kRelocationDir64 ? 8 : type == 3 ? 4 : 2;
        if ((type > 4 && type != kRelocationDir64) || !InBounds(imageSize, target, width)) return false;
        std::uint8_t* p = image + target;
        if (type == kRelocationDir64) {
            std::uint64_t v;
            std::memcpy(&v, p, 8);
            v += wideDelta;
            std::memcpy(p, &v, 8);
        } else if (type == 1) {
            Write16(p, std::uint16_t(Read16(p) + (delta >> 16)));
        } else if (type == 2) {
            Write16(p, std::uint16_t(Read16(p) + (delta & 0xFFFF)));
        } else if (type == 3) {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            v += delta;
            std::memcpy(p, &v, 4);
        } else {
            // The low half of the full value travels in the next entry, which is used up.
            if (++i >= count) return false;
            std::uint32_t full = (std::uint32_t(Read16(p)) << 16) + Read16(entries + 2 * i);
            Write16(p, std::uint16_t((full + delta + 0x8000) >> 16));
        }
    }
    return true;
}

bool BindDescriptor(std::uint8_t* image, std::size_t size, ImportDescriptor& descriptor,
                    ImportResolver& resolver, bool pe32Plus) {
    const char* moduleName = StringAt(image, size, descriptor.name);
    std::uintptr_t module = moduleName ? resolver.Module(moduleName) : 0;
    if (!module) return false;
    if (descriptor.timeDateStamp != 0) return true;  // bound at link time: left as it is
    descriptor.forwarderChain = static_cast<std::uint32_t>(module);
    descriptor.timeDateStamp = static_cast<std::uint32_t>(std::time(nullptr));
    const std::size_t width = pe32Plus ? 8 : 4;
    const std::uint64_t ordinalFlag = pe32Plus ? kOrdinalFlag64 : kOrdinalFlag;
    for (std::uint64_t i = 0;; ++i) {
        std::uint64_t lookup = descriptor.lookupTable + width * i, slot = descriptor.addressTable + width * i;
        if (!InBounds(size, lookup, width) || !InBounds(size, slot, width)) return false;
        std::uint64_t entry = 0;
        std::memcpy(&entry, image + lookup, width);  // little-endian: the low bytes first
        if (entry == 0) return true;
        std::uintptr_t address;
        if (entry & ordinalFlag) {
            address = resolver.Procedure(module, nullptr, static_cast<std::uint16_t>(entry & 0xFFFF));
        } else {
            // A name entry is a 31-bit RVA of the hint and name, in either kind.
            if (entry > 0x7FFFFFFFu) return false;
            const char* name = StringAt(image, size, static_cast<std::uint32_t>(entry) + 2);  // after the 2-byte hint
            address = name ? resolver.Procedure(module, name, 0) : 0;
        }
        if (!address) return false;
        std::uint64_t value = address;
        if (width == 4 && value > 0xFFFFFFFFu) return false;
        std::memcpy(image + slot, &value, width);
    }
}

// The fields of either optional header that the readers use.
template <typename Header>
OptionalFields FieldsOf(const Header& header) {
    OptionalFields fields{};
    fields.magic = header.magic;
    fields.addressOfEntryPoint = header.addressOfEntryPoint;
    fields.imageBase = header.imageBase;
    fields.sizeOfImage = header.sizeOfImage;
    fields.sizeOfHeaders = header.sizeOfHeaders;
    fields.numberOfRvaAndSizes = header.numberOfRvaAndSizes;
    std::memcpy(fields.dataDirectory, header.dataDirectory, sizeof fields.dataDirectory);
    return fields;
}

// Reads an optional header of the kind `Header` that may declare fewer than 16 directories.
// All the bytes it claims must be there, even when no section follows to show it.
template <typename Header>
bool ReadOptional(const std::uint8_t* bytes, std::size_t size, std::uint64_t at, std::uint16_t declaredSize,
                  OptionalFields& out) {
    Header header{};
    std::size_t optionalBytes = std::min<std::size_t>(declaredSize, sizeof(Header));
    if (optionalBytes < offsetof(Header, dataDirectory) || !InBounds(size, at, declaredSize)) return false;
    std::memcpy(&header, bytes + at, optionalBytes);
    out = FieldsOf(header);
    return true;
}

}  // namespace

std::optional<PeLayout> ReadPeLayout(const std::uint8_t* bytes, std::size_t size) {
    DosHeader dos;
    if (!ReadAt(bytes, size, 0, dos) || dos.magic != kDosMagic) return std::nullopt;
    std::uint64_t at = dos.ntHeaderOffset;
    std::uint32_t signature;
    PeLayout layout{};
    if (!ReadAt(bytes, size, at, signature) || signature != kPeSignature) return std::nullopt;
    at += sizeof signature;
    if (!ReadAt(bytes, size, at, layout.file)) return std::nullopt;
    at += sizeof(FileHeader);
    std::uint16_t magic;
    if (!ReadAt(bytes, size, at, magic)) return std::nullopt;
    std::uint16_t declaredSize = layout.file.sizeOfOptionalHeader;
    bool read = magic == kOptionalMagic32   ? ReadOptional<OptionalHeader32>(bytes, size, at, declaredSize, layout.optional)
                : magic == kOptionalMagic64 ? ReadOptional<OptionalHeader64>(bytes, size, at, declaredSize, layout.optional)
                                            : false;
    if (!read) return std::nullopt;
    // The missing directories are zero.
    std::uint32_t declared = layout.optional.numberOfRvaAndSizes;
    for (std::uint32_t i = declared; i < 16; ++i) layout.optional.dataDirectory[i] = {};
    at += layout.file.sizeOfOptionalHeader;
    layout.sections.resize(layout.file.numberOfSections);
    for (auto& section : layout.sections) {
        if (!ReadAt(bytes, size, at, section)) return std::nullopt;
        at += sizeof(SectionHeader);
    }
    return layout;
}

bool CopySections(std::uint8_t* image, std::size_t imageSize, const std::uint8_t* file,
                  std::size_t fileSize, const PeLayout& layout) {
    std::uint32_t headers = layout.optional.sizeOfHeaders;
    if (!InBounds(fileSize, 0, headers) || !InBounds(imageSize, 0, headers)) return false;
    std::memcpy(image, file, headers);
    for (const SectionHeader& s : layout.sections) {
        if (!InBounds(fileSize, s.pointerToRawData, s.sizeOfRawData) ||
            !InBounds(imageSize, s.virtualAddress, s.sizeOfRawData))
            return false;
        std::memcpy(image + s.virtualAddress, file + s.pointerToRawData, s.sizeOfRawData);
    }
    return true;
}

bool BindImports(std::uint8_t* image, std::size_t size, const DataDirectory& dir, ImportResolver& resolver,
                 bool pe32Plus) {
    if (dir.size == 0) return true;
    for (std::uint64_t at = dir.virtualAddress;; at += sizeof(ImportDescriptor)) {
        if (!InBounds(size, at, sizeof(ImportDescriptor))) return false;
        ImportDescriptor descriptor;
        std::memcpy(&descriptor, image + at, sizeof descriptor);
        if (descriptor.lookupTable == 0) return true;
        if (!BindDescriptor(image, size, descriptor, resolver, pe32Plus)) return false;
        std::memcpy(image + at, &descriptor, sizeof descriptor);
    }
}

bool HasAllDirectories(const PeLayout& layout) { return layout.optional.numberOfRvaAndSizes >= 16; }

bool ApplyRelocations(std::uint8_t* image, std::size_t imageSize, std::uint32_t rva,
                      std::uint32_t size, std::uint64_t delta) {
    if (!InBounds(imageSize, rva, size)) return false;
    const std::uint8_t* directory = image + rva;
    std::size_t at = 0;
    RelocationBlockHeader block;
    while (ReadAt(directory, size, at, block) && block.pageAddress != 0) {
        if (block.blockSize < sizeof block || !InBounds(size, at, block.blockSize)) return false;
        std::size_t count = (block.blockSize - sizeof block) / 2;
        if (!ApplyBlock(image, imageSize, block.pageAddress, directory + at + sizeof block, count, delta))
            return false;
        at += block.blockSize;
    }
    return true;
}

std::uint32_t SectionProtection(std::uint32_t characteristics) {
    const bool w = characteristics & 0x80000000u;
    const bool r = characteristics & 0x40000000u;
    const bool x = characteristics & 0x20000000u;
    const bool s = characteristics & 0x10000000u;
    std::uint32_t protection = 0;
    if (w && r) {
        if (x) protection = s ? PAGE_EXECUTE_READWRITE : PAGE_EXECUTE_WRITECOPY;
        else protection = s ? PAGE_READWRITE : PAGE_WRITECOPY;
    } else if (x) {
        protection = r ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    } else if (r) {
        protection = PAGE_READONLY;
    }
    if (protection != 0 && (characteristics & 0x04000000u)) protection |= PAGE_NOCACHE;
    return protection;
}

const char* StringAt(const std::uint8_t* image, std::size_t imageSize, std::uint32_t offset) {
    if (offset >= imageSize) return nullptr;
    const void* end = std::memchr(image + offset, 0, imageSize - offset);
    return end ? reinterpret_cast<const char*>(image + offset) : nullptr;
}

std::optional<std::uint32_t> FindExportSlot(const std::uint8_t* image, std::size_t imageSize,
                                            const char* name) {
    auto layout = ReadPeLayout(image, imageSize);
    if (!layout || !HasAllDirectories(*layout)) return std::nullopt;
    const DataDirectory& dir = layout->optional.dataDirectory[kExportDirectory];
    ExportDirectory exports;
    if (dir.size == 0 || !ReadAt(image, imageSize, dir.virtualAddress, exports)) return std::nullopt;
    for (std::uint32_t i = 0; i < exports.numberOfNames; ++i) {
        std::uint32_t nameRva;
        std::uint16_t index;
        if (!ReadAt(image, imageSize, exports.addressOfNames + 4ull * i, nameRva)) return std::nullopt;
        const char* candidate = StringAt(image, imageSize, nameRva);
        if (!candidate || std::strcmp(candidate, name) != 0) continue;
        if (!ReadAt(image, imageSize, exports.addressOfNameOrdinals + 2ull * i, index)) return std::nullopt;
        std::uint64_t slot = exports.addressOfFunctions + 4ull * index;
        if (!InBounds(imageSize, slot, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(slot);
    }
    return std::nullopt;
}

}  // namespace tolvane

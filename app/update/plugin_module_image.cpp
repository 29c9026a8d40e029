// The test of an engine module on its bytes (IsPluginModuleImage), apart from the file
// reading around it: it calls no Win32 function, so the fuzz build runs it natively.
#include "update_file_check.h"

#include "pe_format.h"

#include <cstring>
#include <optional>
#include <set>
#include <string>

namespace tolvane {

namespace {

// Past this many exported names a module is no engine module of ours.
constexpr std::uint32_t kMaxExportNames = 4096;

const char* const kPluginExports[] = {"DllCanUnloadNow",     "DllGetClassObject", "DllRegisterServer",
                                      "DllUnregisterServer", "GetPluginName",     "IsPluginRegistered",
                                      "IsCriticalPlugin"};

// Where `length` bytes at `rva` lie in the file: in the headers, or in one section's raw data.
std::optional<std::uint64_t> FileOffset(const PeLayout& layout, std::uint32_t rva, std::uint64_t length) {
    if (InBounds(layout.optional.sizeOfHeaders, rva, length)) return rva;
    for (const SectionHeader& section : layout.sections) {
        if (rva < section.virtualAddress) continue;
        std::uint64_t inside = rva - section.virtualAddress;
        if (InBounds(section.sizeOfRawData, inside, length)) return section.pointerToRawData + inside;
    }
    return std::nullopt;
}

template <typename T>
bool ReadRva(const std::uint8_t* bytes, std::size_t size, const PeLayout& layout, std::uint64_t rva, T& out) {
    if (rva > 0xFFFFFFFFu) return false;
    std::optional<std::uint64_t> at = FileOffset(layout, static_cast<std::uint32_t>(rva), sizeof(T));
    if (!at || !InBounds(size, *at, sizeof(T))) return false;
    std::memcpy(&out, bytes + *at, sizeof(T));
    return true;
}

// The names whose export slot holds an address inside the image.
std::set<std::string> ExportedNames(const std::uint8_t* bytes, std::size_t size, const PeLayout& layout) {
    std::set<std::string> names;
    const DataDirectory& directory = layout.optional.dataDirectory[kExportDirectory];
    ExportDirectory exports;
    if (directory.size == 0 || !ReadRva(bytes, size, layout, directory.virtualAddress, exports)) return names;
    for (std::uint32_t i = 0; i < exports.numberOfNames && i < kMaxExportNames; ++i) {
        std::uint32_t nameRva = 0, function = 0;
        std::uint16_t index = 0;
        if (!ReadRva(bytes, size, layout, exports.addressOfNames + 4ull * i, nameRva) ||
            !ReadRva(bytes, size, layout, exports.addressOfNameOrdinals + 2ull * i, index) ||
            !ReadRva(bytes, size, layout, exports.addressOfFunctions + 4ull * index, function))
            continue;
        std::optional<std::uint64_t> at = FileOffset(layout, nameRva, 1);
        const char* name = at && *at < size ? StringAt(bytes, size, static_cast<std::uint32_t>(*at)) : nullptr;
        if (name && function != 0 && function < layout.optional.sizeOfImage) names.insert(name);
    }
    return names;
}

}  // namespace

bool IsPluginModuleImage(const std::uint8_t* bytes, std::size_t size, std::uint16_t machine) {
    std::optional<PeLayout> layout = ReadPeLayout(bytes, size);
    if (!layout || !layout->IsFor(machine) || !(layout->file.characteristics & kFileIsDll)) return false;
    // A cut download ends inside some section's data.
    for (const SectionHeader& section : layout->sections)
        if (!InBounds(size, section.pointerToRawData, section.sizeOfRawData)) return false;
    std::set<std::string> names = ExportedNames(bytes, size, *layout);
    for (const char* name : kPluginExports)
        if (!names.count(name)) return false;
    return true;
}

}  // namespace tolvane

#include "update_file_check.h"

#include "engine_codes.h"
#include "pe_format.h"
#include "signature_loader.h"
#include "../privacy/registry_signature.h"

#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace tolvane {

namespace {

// The engine modules are a few hundred kilobytes; a file past this is no module of ours
// and is not read into memory.
constexpr std::uint64_t kMaxModuleBytes = 64ull * 1024 * 1024;
// Past this many exported names a module is not one of ours either.
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

std::optional<std::vector<std::uint8_t>> ReadWholeFile(HANDLE file, std::uint64_t limit) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) > limit) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFully(file, bytes.data(), static_cast<DWORD>(bytes.size()), got) || got != bytes.size())
        return std::nullopt;
    return bytes;
}

// The reader the engines load their files with; psigs.kws goes on with its registry
// records, which the privacy engine reads whole or refuses.
bool ReadsAsSignatureFile(HANDLE file, bool privacy) {
    SignatureFileHeader header{};
    SignatureTable table;
    if (ReadSignatureEntries(file, header, table) != kCodeSuccess) return false;
    if (!privacy) return true;
    LARGE_INTEGER zero{}, position{}, size{};
    if (!::SetFilePointerEx(file, zero, &position, FILE_CURRENT) || !::GetFileSizeEx(file, &size)) return false;
    std::uint64_t records = std::uint64_t(header.registryRecordCount) * sizeof(RegistrySignature);
    return static_cast<std::uint64_t>(size.QuadPart - position.QuadPart) >= records;
}

}  // namespace

bool IsPluginModuleImage(const std::uint8_t* bytes, std::size_t size) {
    std::optional<PeLayout> layout = ReadPeLayout(bytes, size);
    if (!layout || layout->file.machine != kNativeMachine || layout->optional.magic != kNativeOptionalMagic || !(layout->file.characteristics & kFileIsDll))
        return false;
    // A cut download ends inside some section's data.
    for (const SectionHeader& section : layout->sections)
        if (!InBounds(size, section.pointerToRawData, section.sizeOfRawData)) return false;
    std::set<std::string> names = ExportedNames(bytes, size, *layout);
    for (const char* name : kPluginExports)
        if (!names.count(name)) return false;
    return true;
}

bool IsUsableDownload(const std::string& path, DownloadKind kind) {
    unique_file file = OpenSignatureFile(path.c_str());
    if (!file) return false;
    switch (kind) {
    case DownloadKind::VersionFile: return true;
    case DownloadKind::TrojanSignatures: return ReadsAsSignatureFile(file.get(), false);
    case DownloadKind::PrivacySignatures: return ReadsAsSignatureFile(file.get(), true);
    case DownloadKind::EngineModule: {
        std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(file.get(), kMaxModuleBytes);
        return bytes && IsPluginModuleImage(bytes->data(), bytes->size());
    }
    }
    return false;
}

}  // namespace tolvane

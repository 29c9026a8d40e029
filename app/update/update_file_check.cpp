#include "update_file_check.h"

#include "engine_codes.h"
#include "pe_format.h"
#include "signature_loader.h"
#include "../privacy/registry_signature.h"

#include <optional>
#include <vector>

namespace tolvane {

namespace {

// The engine modules are a few hundred kilobytes; a file past this is no module of ours
// and is not read into memory.
constexpr std::uint64_t kMaxModuleBytes = 64ull * 1024 * 1024;

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

bool IsUsableDownload(const std::string& path, DownloadKind kind, std::uint16_t machine) {
    unique_file file = OpenSignatureFile(path.c_str());
    if (!file) return false;
    switch (kind) {
    case DownloadKind::VersionFile: return true;
    case DownloadKind::TrojanSignatures: return ReadsAsSignatureFile(file.get(), false);
    case DownloadKind::PrivacySignatures: return ReadsAsSignatureFile(file.get(), true);
    case DownloadKind::EngineModule: {
        std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(file.get(), kMaxModuleBytes);
        return bytes && IsPluginModuleImage(bytes->data(), bytes->size(), machine);
    }
    }
    return false;
}

}  // namespace tolvane

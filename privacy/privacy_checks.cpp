#include "privacy_checks.h"

#include "crc32.h"
#include "engine_codes.h"
#include "signature_loader.h"
#include "unique_handle.h"

#include <cstring>
#include <new>

namespace tolvane {
namespace {

constexpr std::uint32_t kMonitorTypeIndex = 0;

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    const void* end = std::memchr(field, 0, N);
    return std::string(field, end ? static_cast<const char*>(end) - field : N);
}

// kCodeSuccess, or the status the path leaves as the scan's result.
DWORD CheckOnePath(const std::string& path, const SignatureTable& crcIndex,
                   std::unique_ptr<MonitorFinding>& finding) {
    unique_file file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return kCodeUnspecified;
    unsigned char head[kFingerprintBytes];
    DWORD got = 0;
    if (!ReadFully(file.get(), head, sizeof head, got) || got != sizeof head) return kCodeSuccess;
    if (finding || crcIndex.Lookup(Crc32(head, sizeof head)) != kMonitorTypeIndex)
        return kCodeSuccess;
    try {
        finding = std::make_unique<MonitorFinding>(path.c_str());
    } catch (const std::bad_alloc&) {
        return kCodeNoMemory;
    }
    return kCodeSuccess;
}

}  // namespace

DWORD CheckProcessPaths(std::vector<std::string>& paths, const SignatureTable& crcIndex,
                        std::unique_ptr<MonitorFinding>& finding) {
    DWORD status = kCodeSuccess;
    std::size_t checked = 0;
    while (checked < paths.size()) {
        status = CheckOnePath(paths[checked++], crcIndex, finding);
        if (status == kCodeNoMemory) break;
    }
    paths.erase(paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(checked));
    return status;
}

void CheckRegistrySignatures(const RegistrySignatureList& records, std::vector<std::string>& names) {
    for (const auto& record : records) {
        HKEY root = RegistryRoot(record.rootKey);
        if (!root) continue;
        unique_hkey key;
        if (::RegOpenKeyExA(root, FieldText(record.keyPath).c_str(), 0, KEY_ALL_ACCESS, key.put()) ==
            ERROR_SUCCESS)
            names.push_back(FieldText(record.name));
    }
}

}  // namespace tolvane

#include "registry_signature.h"

#include <cstring>

namespace tolvane {
namespace {

template <std::size_t N>
bool IsTerminated(const char (&field)[N]) {
    return std::memchr(field, 0, N) != nullptr;
}

bool IsUsable(const RegistrySignature& record) {
    return IsTerminated(record.name) && IsTerminated(record.keyPath) &&
           RegistryRoot(record.rootKey) != nullptr;
}

}  // namespace

HKEY RegistryRoot(std::uint32_t rootKey) {
    switch (rootKey) {
    case 0x80000000u:  // HKEY_CLASSES_ROOT
    case 0x80000001u:  // HKEY_CURRENT_USER
    case 0x80000002u:  // HKEY_LOCAL_MACHINE
    case 0x80000003u:  // HKEY_USERS
    case 0x80000005u:  // HKEY_CURRENT_CONFIG
    case 0x80000006u:  // HKEY_DYN_DATA
        return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(rootKey));
    default:  // HKEY_PERFORMANCE_DATA holds counters, not keys a program creates
        return nullptr;
    }
}

std::size_t ParseRegistrySignatures(const std::uint8_t* bytes, std::size_t size,
                                    RegistrySignatureList& records) {
    const std::size_t whole = size / sizeof(RegistrySignature);
    for (std::size_t i = 0; i < whole; ++i) {
        RegistrySignature record;
        std::memcpy(&record, bytes + i * sizeof record, sizeof record);
        if (IsUsable(record)) records.push_front(record);
    }
    return whole;
}

}  // namespace tolvane

// psigs.kws contents and running specimens for the privacy engine's tests.
#pragma once

#include "registry_signature.h"
#include "signature_file.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

constexpr std::uint32_t kCurrentUser = 0x80000001u;
constexpr std::uint32_t kLocalMachine = 0x80000002u;

// A registry record with its texts NUL-padded to their fields.
RegistrySignature RegistryRecord(const std::string& name, std::uint32_t root, const std::string& keyPath);

// Header (with both counts), fingerprint entries, registry records, in file order.
std::vector<std::uint8_t> PrivacyFileBytes(const std::vector<SignatureEntry>& entries,
                                           const std::vector<RegistrySignature>& records);

// The fingerprint of a file's first 500 bytes; 0 when it has fewer.
std::uint32_t FileFingerprint(const std::string& path);

// The waiting helper program next to the test program.
std::string SleeperPath();

// A running copy of `exe`, ended (and waited for) at the end of the scope.
class SpecimenProcess {
public:
    explicit SpecimenProcess(const std::string& exe);
    ~SpecimenProcess();
    SpecimenProcess(const SpecimenProcess&) = delete;
    SpecimenProcess& operator=(const SpecimenProcess&) = delete;
    bool Running() const;

private:
    PROCESS_INFORMATION info_{};
};

}  // namespace tolvane::test

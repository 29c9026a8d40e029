#include "privacy_test_support.h"

#include "crc32.h"
#include "test_support.h"
#include "unique_handle.h"

#include <cstring>

namespace tolvane::test {

RegistrySignature RegistryRecord(const std::string& name, std::uint32_t root, const std::string& keyPath) {
    RegistrySignature record{};
    std::memcpy(record.name, name.data(), std::min(name.size(), sizeof record.name));
    record.rootKey = root;
    std::memcpy(record.keyPath, keyPath.data(), std::min(keyPath.size(), sizeof record.keyPath));
    return record;
}

std::vector<std::uint8_t> PrivacyFileBytes(const std::vector<SignatureEntry>& entries,
                                           const std::vector<RegistrySignature>& records) {
    std::vector<std::uint8_t> bytes = SignatureFileBytes(entries);
    auto* header = reinterpret_cast<SignatureFileHeader*>(bytes.data());
    header->registryRecordCount = static_cast<std::uint16_t>(records.size());
    for (const auto& record : records) {
        auto raw = reinterpret_cast<const std::uint8_t*>(&record);
        bytes.insert(bytes.end(), raw, raw + sizeof record);
    }
    return bytes;
}

std::uint32_t FileFingerprint(const std::string& path) {
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < kFingerprintBytes) return 0;
    return Crc32(bytes.data(), kFingerprintBytes);
}

std::string SleeperPath() { return ModuleDirectory() + "\\tolvane_privacy_sleeper.exe"; }

SpecimenProcess::SpecimenProcess(const std::string& exe) {
    static LONG counter = 0;
    std::string eventName = "tolvane-specimen-" + std::to_string(::GetCurrentProcessId()) + "-" +
                            std::to_string(::InterlockedIncrement(&counter));
    unique_handle ready(::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\" " + eventName;
    if (!ready || !::CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                    nullptr, nullptr, &startup, &info_))
        return;
    // Listed only once it has mapped its executable and runs.
    ::WaitForSingleObject(ready.get(), 10000);
}

SpecimenProcess::~SpecimenProcess() {
    if (!info_.hProcess) return;
    ::TerminateProcess(info_.hProcess, 0);
    ::WaitForSingleObject(info_.hProcess, 10000);
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
}

bool SpecimenProcess::Running() const {
    return info_.hProcess && ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

}  // namespace tolvane::test

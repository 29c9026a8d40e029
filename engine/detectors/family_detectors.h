// The detector classes of the trojan families: what each looks up when it is made and
// what its removal undoes besides stopping the process and quarantining the file.
#pragma once

#include "autostart.h"
#include "trojan_detector.h"

#include <vector>

namespace tolvane {

constexpr char kExefileCommandKey[] = "exefile\\shell\\open\\command";
// What the open command of programs must be: a trojan that rewrites it runs first.
constexpr char kExefileCommand[] = "\"%1\" %*";

// A detector whose registry entry is an autostart value: the value's name and the key it
// was found in, both shown and removed. On 64-bit Windows the lookup runs in both
// registry views; the first view's match is shown, and every match is removed in the
// view it was found in, so that a value of the same name in the other view that starts
// something else stays.
class AutostartValueDetector : public TrojanDetector {
public:
    bool GetRegistryEntry(std::string& entry) const override {
        entry = registryEntry_;
        return true;
    }
    std::string GetTypeName(bool strip) const override { return TypeRecordText(strip); }
    const std::string& RegistryKey() const { return registryKey_; }

protected:
    using TrojanDetector::TrojanDetector;
    // Takes the entry and key from the autostart lookup; `notFound` is the entry when no
    // named value starts the file.
    void LookUpAutostartValue(const char* notFound);
    // Deletes each value the lookup found in its own view; the key's unnamed value only
    // with `unnamedToo`. True when there was nothing to delete.
    bool DeleteFoundValues(bool unnamedToo);
    bool FoundANamedValue() const;
    // The family's server writes its value into `familyKey`: the value of the entry's name
    // goes from there, in each view where the lookup found one (the program's own view
    // when it found none). A value found in another key is removed too, as it would
    // start the trojan again; its outcome does not decide the removal.
    bool DeleteFromFamilyKey(const char* familyKey);

    std::string registryEntry_;
    std::string registryKey_;

private:
    std::string EntryName(const AutostartEntry& entry) const {
        return entry.valueName.empty() ? notFound_ : entry.valueName;
    }

    std::vector<AutostartEntry> found_;
    std::string notFound_;
};

class BackOrificeDetector final : public AutostartValueDetector {
public:
    BackOrificeDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
    const std::string& InstallName() const { return installName_; }

private:
    std::string installName_;
};

class BackOrifice2kDetector final : public AutostartValueDetector {
public:
    BackOrifice2kDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;

private:
    bool noProcess_;
};

class NetBusDetector final : public AutostartValueDetector {
public:
    NetBusDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
};

class DeepThroatDetector final : public AutostartValueDetector {
public:
    DeepThroatDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;

private:
    DWORD restore_;  // the server took over the tray's own "Systemtray" value
};

class PrettyParkDetector final : public AutostartValueDetector {
public:
    PrettyParkDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
};

// SkSilencer and HackAttack: an autostart value and nothing else.
class RunValueDetector final : public AutostartValueDetector {
public:
    RunValueDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
};

class SubSevenDetector final : public AutostartValueDetector {
public:
    SubSevenDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
};

class AttackFtpDetector final : public AutostartValueDetector {
public:
    AttackFtpDetector(const char* path, DWORD processId, int typeIndex);
    bool Remove() override;
};

}  // namespace tolvane

// One trojan found by a scan: what it is, where its file lies, how it starts, and how
// to remove it. The engine keeps its detectors newest first and deletes them through
// the virtual destructor.
#pragma once

#include <windows.h>

#include <list>
#include <memory>
#include <string>

namespace tolvane {

constexpr int kTrojanTypeCount = 12;
constexpr std::size_t kTypeRecordBytes = 65;
extern const char TrojanTypeNames[kTrojanTypeCount][kTypeRecordBytes];

constexpr char kTypeSeparator[] = "**KWR**";

// Registry entry sentinels: the key's unnamed value, and no autostart value found.
constexpr char kDefaultValueEntry[] = "<Default>";
constexpr char kNoEntry[] = "None";

class TrojanDetector {
public:
    TrojanDetector(const char* filePath, DWORD processId, int typeIndex);
    virtual ~TrojanDetector() = default;
    TrojanDetector(const TrojanDetector&) = delete;
    TrojanDetector& operator=(const TrojanDetector&) = delete;

    // The value that starts the trojan, or a sentinel; the base class leaves it as is.
    virtual bool GetRegistryEntry(std::string& entry) const;
    // The base class has no family and names none: an empty string.
    virtual std::string GetTypeName(bool strip) const;
    // Stops, quarantines and unhooks the trojan; false at the first deciding step that
    // failed, with GetErrorCode telling why. The base class quarantines its file only.
    virtual bool Remove();

    bool GetFilePath(std::string& path) const {
        path = filePath_;
        return true;
    }
    const std::string& FilePath() const { return filePath_; }
    bool SetFilePath(const char* path) {
        filePath_ = path ? path : "";
        return true;
    }
    DWORD GetErrorCode() const { return errorCode_; }
    int TypeIndex() const { return typeIndex_; }
    DWORD ProcessId() const { return processId_; }

    // Quarantined files go to "Infected Files" under the process's current directory,
    // where the program's quarantine manager looks for them; a caller that runs
    // elsewhere can name the folder that holds it instead.
    void SetQuarantineParent(const std::string& folder) { quarantineParent_ = folder; }

    // Moves `path` (default: the detector's own file) into the quarantine folder. A file
    // that is missing or unreadable needs no moving and counts as done.
    bool Quarantine(const char* path = nullptr);
    bool QuarantineCopy(const char* source, const char* destination);
    // Removes tokens naming the detector's file from WIN.INI load=, run= and system.ini shell=.
    void CleanIniAutostart();
    bool StripFileTokens(const std::string& value, std::string& newValue) const;

protected:
    // The common first steps of a removal: stop the process, quarantine the file.
    bool TerminateAndQuarantine();
    // Deletes the value named `entry` ("<Default>" or "" for the unnamed one) of `key`
    // under `root`, in registry view `view` (0: the program's own). Fails only when the
    // key cannot be opened or the value not deleted; a value that is already gone is no
    // failure.
    bool DeleteRegistryValue(HKEY root, const std::string& key, const std::string& entry, REGSAM view = 0);
    // The same for a value the trojan writes under a fixed name, in every registry view:
    // on 64-bit Windows a 32-bit server writes it into the 32-bit view and a 64-bit one
    // into the 64-bit view, whichever edition removes it. A key missing in a view other
    // than the program's own holds nothing to delete there.
    bool DeleteRegistryValueInEveryView(HKEY root, const std::string& key, const std::string& entry);
    bool SetRegistryString(HKEY root, const std::string& key, const char* name, const std::string& value);
    std::string FileName() const;
    // With strip, the display name before "**KWR**"; else the whole type record.
    std::string TypeRecordText(bool strip) const;

    int typeIndex_;
    std::string filePath_;
    std::string typeRecord_;
    DWORD processId_;
    DWORD errorCode_ = 0;

private:
    std::string QuarantineFolder() const;

    std::string quarantineParent_;
};

using DetectorList = std::list<std::unique_ptr<TrojanDetector>>;

// The message for a trojan file the system holds open, with the file's short path.
std::string FileInUseMessage(const std::string& shortPath);
// Shows that message for `path` in a plain message box, whatever the engine's silent setting.
void ShowFileInUse(const std::string& path);

// The Windows directory, "c:\windows" when the system will not say.
std::string WindowsDirectory();

}  // namespace tolvane

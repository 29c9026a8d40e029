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

class TrojanDetector {
public:
    TrojanDetector(const char* filePath, DWORD processId, int typeIndex);
    virtual ~TrojanDetector() = default;
    TrojanDetector(const TrojanDetector&) = delete;
    TrojanDetector& operator=(const TrojanDetector&) = delete;

    // The value that starts the trojan, or a sentinel; the base class leaves it as is.
    virtual bool GetRegistryEntry(std::string& entry) const;
    // With strip, the display name before "**KWR**"; else the whole type record.
    virtual std::string GetTypeName(bool strip) const;
    virtual bool Remove() = 0;

    bool GetFilePath(std::string& path) const {
        path = filePath_;
        return true;
    }
    const std::string& FilePath() const { return filePath_; }
    bool SetFilePath(const char* path) {
        filePath_ = path;
        return true;
    }
    DWORD GetErrorCode() const { return errorCode_; }
    int TypeIndex() const { return typeIndex_; }
    DWORD ProcessId() const { return processId_; }

protected:
    int typeIndex_;
    std::string filePath_;
    std::string typeRecord_;
    DWORD processId_;
    DWORD errorCode_ = 0;
};

using DetectorList = std::list<std::unique_ptr<TrojanDetector>>;

}  // namespace tolvane

// A monitoring tool found running. The privacy engine knows one tool by fingerprint,
// so its type table has a single record and an engine holds at most one finding.
#pragma once

#include <cstddef>
#include <string>

namespace tolvane {

constexpr int kMonitorTypeCount = 1;
constexpr std::size_t kMonitorTypeRecordBytes = 65;
extern const char MonitorTypeNames[kMonitorTypeCount][kMonitorTypeRecordBytes];

class MonitorFinding {
public:
    // The one type the table knows, index 0.
    explicit MonitorFinding(const char* filePath);
    virtual ~MonitorFinding() = default;
    MonitorFinding(const MonitorFinding&) = delete;
    MonitorFinding& operator=(const MonitorFinding&) = delete;

    // With strip, the display name before "**KWR**"; else the whole type record.
    virtual std::string GetTypeName(bool strip) const;

    const std::string& FilePath() const { return filePath_; }
    int TypeIndex() const { return typeIndex_; }

private:
    int typeIndex_ = 0;
    std::string filePath_;
    std::string typeRecord_;
};

}  // namespace tolvane

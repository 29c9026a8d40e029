#include "monitor_finding.h"

namespace tolvane {
namespace {
constexpr char kTypeSeparator[] = "**KWR**";
}

const char MonitorTypeNames[kMonitorTypeCount][kMonitorTypeRecordBytes] = {
    "WinWhatWhere Investigator**KWR**",
};

MonitorFinding::MonitorFinding(const char* filePath)
    : filePath_(filePath), typeRecord_(MonitorTypeNames[0]) {}

std::string MonitorFinding::GetTypeName(bool strip) const {
    if (!strip) return typeRecord_;
    return typeRecord_.substr(0, typeRecord_.find(kTypeSeparator));
}

}  // namespace tolvane

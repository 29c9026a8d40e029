#include "trojan_detector.h"

#include <cstring>

namespace tolvane {

// Fixed 65-byte records: the type index from the signature file selects one. Index 3
// has never carried the separator, and rows built from it show so.
const char TrojanTypeNames[kTrojanTypeCount][kTypeRecordBytes] = {
    "Back Orifice**KWR**", "NetBus**KWR**",    "MastersParadise**KWR**", "Sockets d'Troy",
    "DeepThroat**KWR**",   "SetupDM**KWR**",   "SkSilencer**KWR**",      "HackAttack**KWR**",
    "PrettyPark**KWR**",   "Bo2k**KWR**",      "SubSeven**KWR**",        "AttackFTP**KWR**",
};

TrojanDetector::TrojanDetector(const char* filePath, DWORD processId, int typeIndex)
    : typeIndex_(typeIndex), filePath_(filePath ? filePath : ""), processId_(processId) {
    if (typeIndex >= 0 && typeIndex < kTrojanTypeCount) typeRecord_ = TrojanTypeNames[typeIndex];
}

bool TrojanDetector::GetRegistryEntry(std::string&) const { return true; }

std::string TrojanDetector::GetTypeName(bool strip) const {
    if (!strip) return typeRecord_;
    return typeRecord_.substr(0, typeRecord_.find(kTypeSeparator));
}

}  // namespace tolvane

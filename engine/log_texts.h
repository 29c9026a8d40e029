// Texts of Tolvane.log, byte for byte. The program and older logs are read by people
// and by the log viewer, so the odd spacing and the "\r\n" (which text mode writes as
// CR CR LF) stay exactly as they are.
#pragma once

namespace tolvane::log_text {

constexpr char kStartLead[] = "***************** Scan started on ";
constexpr char kStartTail[] = " ****************\r\n";
constexpr char kDateFormat[] = "%A %B %d, %Y at %H:%M";
constexpr char kFileErrorLead[] = "\nFILE SCAN PHASE: Error trying to open the file ";
constexpr char kFileErrorTail[] = " for scanning.  File skipped.";
constexpr char kNoneFound[] =
    "\r\n\t   ---------------- No Trojans detected ----------------\r\n";
constexpr char kDetectionBanner[] =
    "\t     --------------- Detection Phase Started -----------------\r\n";
constexpr char kFound[] = "The following trojan horse(s) have been found:\r\n";
constexpr char kColumnHeads[] = "Type:\t\t\tRegistry Entry:\t\tRunning as:";
constexpr char kRowPrefix[] = "\t";
constexpr char kRowFormat[] = "\r\n%s\t\t%s\t\t%s";
constexpr char kRemovalBanner[] =
    "\r\n\r\n\t     -------------------- Removal Phase ----------------------\r\n";
constexpr char kRemoved1[] = "All running Trojan Horses terminated.\r\n";
constexpr char kRemoved2[] = "All registry entries removed.\r\n";
constexpr char kRemoved3[] =
    "All detected Trojan Horses listed above renamed with a '.KWR'\nextension in the "
    "'Infected Files' directory.\r\n";
constexpr char kEndLine[] =
    "\r\n******************************** Scan completed "
    "************************************\r\n\r\n";

}  // namespace tolvane::log_text

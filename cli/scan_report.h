// What the console scanner prints about its findings: as text for a person, as CSV or
// JSON records for the scripts that collect results from many machines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tolvane {

struct Finding {
    std::string type;      // the trojan family
    std::string file;      // the file found
    std::string registry;  // the autostart entry that starts it, "None" or "<Default>"
};

// One ProcessList row, "type**KWR**file**KWR**registry entry", as its three fields.
Finding ParseFindingRow(const std::string& row);

enum class ReportFormat { Text, Csv, Json };
// Whether the findings were removed: not asked (no --remove), or the engine's answer,
// which covers all findings together.
enum class Removal { NotAsked, Finished, NotFinished };

// Writes the records of `findings` in `format`; Text writes one block per finding.
void WriteFindings(std::FILE* out, ReportFormat format, const std::vector<Finding>& findings, Removal removal);

std::string CsvField(const std::string& text);
std::string JsonString(const std::string& text);

}  // namespace tolvane

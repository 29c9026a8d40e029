#include "scan_report.h"

namespace tolvane {

namespace {

constexpr char kSeparator[] = "**KWR**";
constexpr std::size_t kSeparatorLength = sizeof kSeparator - 1;

const char* RemovedText(Removal removal) { return removal == Removal::Finished ? "yes" : "no"; }

}  // namespace

Finding ParseFindingRow(const std::string& row) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = row.find(kSeparator, start)) != std::string::npos; start = at + kSeparatorLength)
        parts.push_back(row.substr(start, at - start));
    parts.push_back(row.substr(start));
    // One family's type record lacks its separator, so its name runs into the path:
    // the path starts at its drive letter ("X:\") or at a UNC "\\".
    if (parts.size() == 2) {
        std::size_t drive = parts[0].find(":\\");
        std::size_t unc = parts[0].find("\\\\");
        std::size_t split = drive != std::string::npos && drive > 0 ? drive - 1 : unc;
        if (split == std::string::npos) split = 0;
        parts.insert(parts.begin(), parts[0].substr(0, split));
        parts[1].erase(0, split);
    }
    parts.resize(3);
    return Finding{parts[0], parts[1], parts[2]};
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void WriteFindings(std::FILE* out, ReportFormat format, const std::vector<Finding>& findings, Removal removal) {
    bool withRemoval = removal != Removal::NotAsked;
    switch (format) {
    case ReportFormat::Text:
        for (const auto& f : findings) {
            std::fprintf(out, "FOUND %s\n      file:     %s\n      registry: %s\n", f.type.c_str(), f.file.c_str(),
                         f.registry.c_str());
            if (withRemoval) std::fprintf(out, "      removed:  %s\n", RemovedText(removal));
        }
        break;
    case ReportFormat::Csv:
        std::fprintf(out, withRemoval ? "type,file,registry,removed\n" : "type,file,registry\n");
        for (const auto& f : findings) {
            std::fprintf(out, "%s,%s,%s", CsvField(f.type).c_str(), CsvField(f.file).c_str(),
                         CsvField(f.registry).c_str());
            if (withRemoval) std::fprintf(out, ",%s", RemovedText(removal));
            std::fprintf(out, "\n");
        }
        break;
    case ReportFormat::Json:
        std::fprintf(out, "[");
        for (std::size_t i = 0; i < findings.size(); ++i) {
            const auto& f = findings[i];
            std::fprintf(out, "%s\n  {\"type\": %s, \"file\": %s, \"registry\": %s", i ? "," : "",
                         JsonString(f.type).c_str(), JsonString(f.file).c_str(), JsonString(f.registry).c_str());
            if (withRemoval)
                std::fprintf(out, ", \"removed\": %s", removal == Removal::Finished ? "true" : "false");
            std::fprintf(out, "}");
        }
        std::fprintf(out, findings.empty() ? "]\n" : "\n]\n");
        break;
    }
}

}  // namespace tolvane

#include "smtp_reply.h"

namespace tolvane {
namespace {

// Reply codes have three digits; reading at most nine keeps a hostile run of digits
// from overflowing while still reporting any code a server really sends.
long LeadingCode(std::string_view line) {
    long code = 0;
    std::size_t digits = 0;
    while (digits < line.size() && digits < 9 && line[digits] >= '0' && line[digits] <= '9')
        code = code * 10 + (line[digits++] - '0');
    // A code of zero would read as success to the caller.
    return code > 0 ? -code : -1;
}

}  // namespace

long JudgeReply(std::string_view received, std::string_view expected) {
    std::string_view text = received.substr(0, received.find('\0'));
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.size() < 4 || line[3] != ' ') continue;
        if (line.substr(0, expected.size()) == expected) return 0;
        return LeadingCode(line);
    }
    return -1;
}

}  // namespace tolvane

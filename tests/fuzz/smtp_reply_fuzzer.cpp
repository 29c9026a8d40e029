// A mail server's reply, as one receive delivered it, judged against the code the client
// waits for. The first input byte picks that code; the rest is the reply.
#include "smtp_reply.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kExpected[] = {"220", "250", "354", "221", "2", "", "25", "2500"};

// The reply code the judge reports for `line`: the line's leading digits (nine at most).
long CodeOf(std::string_view line) {
    long code = 0;
    for (std::size_t i = 0; i < line.size() && i < 9 && line[i] >= '0' && line[i] <= '9'; ++i)
        code = code * 10 + (line[i] - '0');
    return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view expected = kExpected[data[0] % (sizeof kExpected / sizeof kExpected[0])];
    std::string_view received(reinterpret_cast<const char*>(data + 1), size - 1);
    long result = tolvane::JudgeReply(received, expected);

    FUZZ_REQUIRE(result <= 0 && result >= -999999999L);
    // The line that decided: the first final one before any zero byte.
    std::string_view text = received.substr(0, received.find('\0'));
    std::string_view decisive;
    bool found = false;
    for (std::size_t at = 0; at <= text.size() && !found;) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (line.size() >= 4 && line[3] == ' ') decisive = line, found = true;
        at = end + 1;
    }
    if (!found) {
        FUZZ_REQUIRE(result == -1);
    } else if (decisive.substr(0, expected.size()) == expected) {
        FUZZ_REQUIRE(result == 0);
    } else {
        long code = CodeOf(decisive);
        // Never success for a line that does not carry the expected code.
        FUZZ_REQUIRE(result == (code > 0 ? -code : -1));
    }
    return 0;
}

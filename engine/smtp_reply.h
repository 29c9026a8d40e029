// Judging an SMTP server's reply, on the bytes one receive delivered.
#pragma once

#include <string_view>

namespace tolvane {

// 0 when the first final line (fourth character a space) begins with `expected`; the
// negative of that line's reply code when it does not; -1 when the text holds no final
// line or the line starts with no code. Continuation lines ("250-...") and lines
// shorter than four characters are skipped; the text ends at its first zero byte.
long JudgeReply(std::string_view received, std::string_view expected);

}  // namespace tolvane

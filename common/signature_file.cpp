#include "signature_file.h"

#include <cstdio>
#include <cstring>

namespace tolvane {

bool HasSignatureMagic(const SignatureFileHeader& header) {
    return std::memcmp(header.magic, kSignatureMagic, sizeof kSignatureMagic) == 0;
}

void FormatDefsDate(const SignatureFileHeader& header, char (&out)[kDefsDateValueBytes]) {
    std::memset(out, 0, sizeof out);
    // Three 16-bit fields can need 17 characters; snprintf cuts instead of overrunning.
    std::snprintf(out, sizeof out, "%i/%i/%i", static_cast<int>(header.month),
                  static_cast<int>(header.day), static_cast<int>(header.year));
}

}  // namespace tolvane

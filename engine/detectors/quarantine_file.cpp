#include "quarantine_file.h"

namespace tolvane {

std::string QuarantineFileName(const std::string& fileName) {
    if (!fileName.empty() && fileName[0] == ' ') return "BACKORIFICE.KWR";
    return fileName + kQuarantineExtension;
}

std::string FitQuarantinePath(const std::string& destination) {
    constexpr std::size_t kLongestPath = 260;
    constexpr std::size_t kKeptChars = 130;
    if (destination.size() <= kLongestPath) return destination;
    return destination.substr(0, kKeptChars) + kQuarantineExtension;
}

}  // namespace tolvane

#include "restore_path.h"

#include <algorithm>
#include <cctype>

namespace tolvane {
namespace {

bool IsDeviceName(std::string step) {
    step = step.substr(0, step.find('.'));
    while (!step.empty() && step.back() == ' ') step.pop_back();
    std::transform(step.begin(), step.end(), step.begin(), [](unsigned char c) { return std::toupper(c); });
    if (step == "CON" || step == "PRN" || step == "AUX" || step == "NUL" || step == "CLOCK$") return true;
    return step.size() == 4 && (step.compare(0, 3, "COM") == 0 || step.compare(0, 3, "LPT") == 0) &&
           step[3] >= '1' && step[3] <= '9';
}

// The steps after the drive ("C:") or the share's server ("\\server"); empty when the path
// has neither form. "\\.\" and "\\?\" name devices and raw paths, not files.
std::string StepsOf(const std::string& path) {
    if (path.size() > 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        path[2] == '\\')
        return path.substr(2);
    if (path.size() > 2 && path.compare(0, 2, "\\\\") == 0 && path[2] != '.' && path[2] != '?')
        return path.substr(1);
    return std::string();
}

}  // namespace

bool IsRestorablePath(const std::string& path) {
    std::string steps = StepsOf(path);
    if (steps.empty() || steps.find_first_of(":*?\"<>|/") != std::string::npos) return false;
    if (std::any_of(path.begin(), path.end(), [](unsigned char c) { return c < 32; })) return false;
    // Every step after the leading backslash must name something real.
    for (std::size_t begin = 1; begin <= steps.size();) {
        std::size_t end = std::min(steps.find('\\', begin), steps.size());
        std::string step = steps.substr(begin, end - begin);
        if (step.empty() || step == "." || step == ".." || IsDeviceName(step)) return false;
        begin = end + 1;
    }
    return true;
}

}  // namespace tolvane
